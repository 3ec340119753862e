// The program's version, as the About box and the resource script give it.
#pragma once

constexpr char KORVANE_VERSION[] = "1.1.1";
