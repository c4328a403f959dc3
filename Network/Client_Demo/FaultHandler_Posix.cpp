// Linux and other POSIX systems: the fatal signals (segmentation fault, bus error, floating-point
// error, illegal instruction, trap) mapped onto the fault codes, reported by ErrorHandler. The
// process then ends with 128 + the signal number, as a shell reports a process a signal ended.
#include <signal.h>
#include <ucontext.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include "Network/Client_Demo/ErrorHandler.h"

namespace {

constexpr std::array<int, 5> FatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
std::array<struct sigaction, FatalSignals.size()> PreviousActions{};
std::terminate_handler PreviousTerminate = nullptr;
bool Installed = false;

// The handler runs on its own stack, so that a stack overflow can still be reported; the box it
// shows needs room for a nested event loop.
constexpr size_t AlternateStackSize = 1u << 20;
std::vector<char> AlternateStack;

uintptr_t StackPointer(const void *context) {
    const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.sp);
#else
    (void)uc;
    return 0;
#endif
}

// A stack overflow faults just below the stack pointer; other bad addresses lie far from it.
bool IsStackOverflow(const siginfo_t *info, const void *context) {
    const uintptr_t sp = StackPointer(context);
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    constexpr uintptr_t Reach = 64 * 1024;
    return sp != 0 && address + Reach >= sp && address <= sp + Reach;
}

uint32_t CodeOfSignal(int signal, const siginfo_t *info, const void *context) {
    switch (signal) {
        case SIGSEGV:
            return IsStackOverflow(info, context) ? FaultCode::StackOverflow
                                                  : FaultCode::AccessViolation;
        case SIGBUS:
            return info->si_code == BUS_ADRALN ? FaultCode::DatatypeMisalignment
                                               : FaultCode::InPageError;
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV:
                    return FaultCode::IntegerDivideByZero;
                case FPE_INTOVF:
                    return FaultCode::IntegerOverflow;
                case FPE_FLTDIV:
                    return FaultCode::FloatDivideByZero;
                case FPE_FLTOVF:
                    return FaultCode::FloatOverflow;
                case FPE_FLTUND:
                    return FaultCode::FloatUnderflow;
                case FPE_FLTRES:
                    return FaultCode::FloatInexactResult;
                case FPE_FLTINV:
                    return FaultCode::FloatInvalidOperation;
                case FPE_FLTSUB:
                    return FaultCode::ArrayBoundsExceeded;
                default:
                    return FaultCode::Unknown;
            }
        case SIGILL:
            return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG
                       ? FaultCode::PrivilegedInstruction
                       : FaultCode::IllegalInstruction;
        case SIGTRAP:
            return info->si_code == TRAP_TRACE ? FaultCode::SingleStep : FaultCode::Breakpoint;
        default:
            return FaultCode::Unknown;
    }
}

void OnFatalSignal(int signal, siginfo_t *info, void *context) {
    ErrorHandler(CodeOfSignal(signal, info, context), 128 + signal);
}

void OnTerminate() {
    ErrorHandler(FaultCode::Unknown, 128 + SIGABRT);
}

}  // namespace

void InstallErrorHandler() {
    if (Installed) {
        return;
    }
    AlternateStack.assign(AlternateStackSize, 0);
    stack_t stack{};
    stack.ss_sp = AlternateStack.data();
    stack.ss_size = AlternateStack.size();
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    // A second fault while reporting the first ends the process the default way.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < FatalSignals.size(); ++i) {
        sigaction(FatalSignals[i], &action, &PreviousActions[i]);
    }
    PreviousTerminate = std::set_terminate(OnTerminate);
    Installed = true;
}

void RemoveErrorHandler() {
    if (!Installed) {
        return;
    }
    for (size_t i = 0; i < FatalSignals.size(); ++i) {
        sigaction(FatalSignals[i], &PreviousActions[i], nullptr);
    }
    std::set_terminate(PreviousTerminate);
    stack_t disable{};
    disable.ss_flags = SS_DISABLE;
    sigaltstack(&disable, nullptr);
    AlternateStack.clear();
    AlternateStack.shrink_to_fit();
    Installed = false;
}
