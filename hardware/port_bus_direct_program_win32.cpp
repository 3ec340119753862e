// korvane.exe: the real parallel port. Windows NT and later do not let a program execute
// port instructions; an installed port driver with the InpOut32 interface does the access
// for it. Systems that allow the instructions (Windows 9x, or a port opened by a driver
// such as giveio) are used directly. Without either, the program cannot work and ends
// before any window with a report that says what to install.
#include "app/error_handler.h"
#include "app/shell_win32.h"
#include "hardware/port_bus.h"

#ifdef _WIN64
#define PORT_DRIVER_LIBRARY "inpoutx64.dll"
#else
#define PORT_DRIVER_LIBRARY "inpout32.dll"
#endif

namespace {

typedef short(__stdcall* inp32_function)(short);
typedef void(__stdcall* out32_function)(short, short);
typedef BOOL(__stdcall* driver_open_function)();

struct inpout_port final : port_bus {
    inp32_function inp = nullptr;
    out32_function outp = nullptr;
    uint8_t in(uint16_t address) override { return static_cast<uint8_t>(inp(static_cast<short>(address))); }
    void out(uint16_t address, uint8_t value) override { outp(static_cast<short>(address), value); }
};

inline uint8_t port_in(uint16_t address) {
    uint8_t value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "d"(address));
    return value;
}
inline void port_out(uint16_t address, uint8_t value) {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "d"(address));
}

struct direct_port final : port_bus {
    uint8_t in(uint16_t address) override { return port_in(address); }
    void out(uint16_t address, uint8_t value) override { port_out(address, value); }
};

inpout_port inpout;
direct_port direct;

bool load_inpout() {
    HMODULE library = LoadLibraryA(PORT_DRIVER_LIBRARY);
    if (library == nullptr) return false;
    inpout.inp = reinterpret_cast<inp32_function>(reinterpret_cast<void*>(GetProcAddress(library, "Inp32")));
    inpout.outp = reinterpret_cast<out32_function>(reinterpret_cast<void*>(GetProcAddress(library, "Out32")));
    auto driver_open = reinterpret_cast<driver_open_function>(
        reinterpret_cast<void*>(GetProcAddress(library, "IsInpOutDriverOpen")));
    if (inpout.inp == nullptr || inpout.outp == nullptr || (driver_open != nullptr && !driver_open())) {
        FreeLibrary(library);
        return false;
    }
    return true;
}

// Whether this process may execute port instructions: one read of the status register,
// with a handler that steps over the one-byte "in al, dx" should the system refuse it.
volatile LONG probing = 0;
volatile LONG refused = 0;

LONG CALLBACK refuse_handler(EXCEPTION_POINTERS* info) {
    DWORD code = info->ExceptionRecord->ExceptionCode;
    if (probing == 0 || (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION))
        return EXCEPTION_CONTINUE_SEARCH;
    refused = 1;
#ifdef _WIN64
    info->ContextRecord->Rip += 1;
#else
    info->ContextRecord->Eip += 1;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool port_instructions_allowed() {
    PVOID handler = AddVectoredExceptionHandler(1, refuse_handler);
    if (handler == nullptr) return false;
    probing = 1;
    (void)port_in(0x379);
    probing = 0;
    RemoveVectoredExceptionHandler(handler);
    return refused == 0;
}

}  // namespace

void install_program_port_bus() {
    // Port instructions of our own first: where they are allowed, an access costs no call
    // into a driver, and a read-out makes millions of them.
    if (port_instructions_allowed()) {
        set_port_bus(&direct);
        return;
    }
    if (load_inpout()) {
        set_port_bus(&inpout);
        return;
    }
    error_handler(13, "install_program_port_bus",
                  "No access to the parallel port: Windows does not let programs use port "
                  "instructions. Install a port driver with the InpOut32 interface ("
                  PORT_DRIVER_LIBRARY ") beside korvane.exe, or try korvane-sim.exe with its "
                  "simulated capture hardware.");
}
