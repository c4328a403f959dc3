// The front-end's Windows fault handler, without the front-end: this ErrorHandler prints what it
// was given and ends the process with the exit code, as the real one does after its box.
//   fault_handler_windows access-violation | terminate
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "Network/Client_Demo/ErrorHandler.h"

void ErrorHandler(uint32_t code, int exitCode) {
    std::printf("fault %x, exit code %d\n", static_cast<unsigned>(code), exitCode);
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(exitCode));
}

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    // Without this, Wine and Windows would show their own crash box and wait.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    InstallErrorHandler();
    if (std::strcmp(argv[1], "access-violation") == 0) {
        volatile int *nowhere = nullptr;
        *nowhere = 1;
    } else if (std::strcmp(argv[1], "terminate") == 0) {
        throw std::runtime_error("nobody catches this");
    }
    std::printf("no fault\n");
    return 2;
}
