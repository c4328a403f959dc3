// Windows: the unhandled-exception filter; the exception code is the fault code, and the process
// ends with it as its exit code.
#include <windows.h>

#include <cstdlib>
#include <exception>

#include "Network/Client_Demo/ErrorHandler.h"

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = nullptr;
std::terminate_handler PreviousTerminate = nullptr;
bool Installed = false;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    ErrorHandler(code, code != 0 ? static_cast<int>(code) : 1);
}

void OnTerminate() {
    ErrorHandler(FaultCode::Unknown, 3);
}

}  // namespace

void InstallErrorHandler() {
    if (Installed) {
        return;
    }
    PreviousFilter = SetUnhandledExceptionFilter(OnUnhandledException);
    PreviousTerminate = std::set_terminate(OnTerminate);
    Installed = true;
}

void RemoveErrorHandler() {
    if (!Installed) {
        return;
    }
    SetUnhandledExceptionFilter(PreviousFilter);
    std::set_terminate(PreviousTerminate);
    Installed = false;
}
