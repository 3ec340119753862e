// A port driver DLL with the InpOut32 interface for the tests: korvane.exe loads it where
// Windows refuses port instructions (always under Wine), and its accesses reach the
// simulated capture hardware, which completes a capture in real time as in korvane-sim.exe.
// Built as inpoutx64.dll (x86_64) or inpout32.dll (i686); simulated_port_driver.def exports
// the three functions by their plain names.
#include <windows.h>

#include "simulator/simulated_device.h"

namespace {
simulated_device device;
}

extern "C" {

short __stdcall Inp32(short address) { return device.in(static_cast<uint16_t>(address)); }

void __stdcall Out32(short address, short value) {
    device.out(static_cast<uint16_t>(address), static_cast<uint8_t>(value));
}

BOOL __stdcall IsInpOutDriverOpen() { return TRUE; }

}
