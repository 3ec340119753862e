// The program's name in its messages, and the exit statuses of korvane-cli, which the server
// turns into its answers' status (2 a mistake of the request, 1 nothing to give, 5 a file).
#pragma once

constexpr char PROGRAM_NAME[] = "korvane-cli";

constexpr int EXIT_SUCCESS_STATUS = 0;
constexpr int EXIT_WARNING = 1;      // nothing written: no samples, a damaged header, nothing to export
constexpr int EXIT_USAGE = 2;        // a bad command line
constexpr int EXIT_RAN_OUT = 3;      // capture --stop-when: no capture of --count met the condition
constexpr int EXIT_FILE = 5;         // a file could not be read or written (the program's level 5)
constexpr int EXIT_INTERNAL = 70;    // an internal error of the program
constexpr int EXIT_PORT_BUSY = 75;   // the port stayed held by another program for --port-wait
constexpr int EXIT_TIMEOUT = 124;    // no trigger within --timeout
constexpr int EXIT_INTERRUPTED = 130;  // Ctrl+C (SIGINT), SIGTERM or SIGHUP
