// korvane-sim.exe: the simulated capture hardware hangs on the port.
#include "app/shell_win32.h"
#include "simulator/simulated_device.h"

namespace {
simulated_device device;
}

void install_program_port_bus() { set_port_bus(&device); }
