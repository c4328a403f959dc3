// The platform-independent half of the fault report: texts, the box and the end of the process.
// The platform files catch the faults and call ErrorHandler.
#include "Network/Client_Demo/ErrorHandler.h"

#include <QApplication>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Network/Client_Demo/MessageBox.h"
#include "Network/Common/CurrentLocation.h"

namespace {

struct FaultEntry {
    uint32_t Code;
    const char *Text;
};

constexpr FaultEntry FaultTexts[] = {
    {FaultCode::AccessViolation, "Invalid memory access"},
    {FaultCode::ArrayBoundsExceeded, "Array bounds exceeded"},
    {FaultCode::Breakpoint, "Debugger breakpoint reached"},
    {FaultCode::DatatypeMisalignment, "Misaligned data access"},
    {FaultCode::FloatDenormalOperand, "Denormal floating-point operand"},
    {FaultCode::FloatDivideByZero, "Division by zero (floating-point)"},
    {FaultCode::FloatInexactResult, "Inexact floating-point result"},
    {FaultCode::FloatInvalidOperation, "Invalid floating-point operation"},
    {FaultCode::FloatOverflow, "Floating-point overflow (exponent to great)"},
    {FaultCode::FloatStackCheck, "Floating-point stack overflow or underflow"},
    {FaultCode::FloatUnderflow, "Floating-point underflow (exponent too small)"},
    {FaultCode::IllegalInstruction, "Illegal instruction"},
    {FaultCode::InPageError, "Memory page error"},
    {FaultCode::IntegerDivideByZero, "Division by zero "},
    {FaultCode::IntegerOverflow, "Integer overflow"},
    {FaultCode::InvalidDisposition, "Exception handler returned unknown value"},
    {FaultCode::NoncontinuableException,
     "Exception handler tried to continue after non-continuable exception"},
    {FaultCode::PrivilegedInstruction, "Privileged instruction"},
    {FaultCode::SingleStep, "Single step trap"},
    {FaultCode::StackOverflow, "Stack overflow"},
};

}  // namespace

const char *FaultText(uint32_t code) {
    for (const FaultEntry &entry : FaultTexts) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    return "Unknown error code";
}

std::string FaultReport(uint32_t code, uint32_t line, const char *file) {
    std::string report = FaultText(code);
    report += "\rLine: ";
    report += std::to_string(line);
    report += "\rFile: ";
    report += file != nullptr ? file : "";
    return report;
}

namespace {

[[noreturn]] void ShowReportAndExit(const QString &text, int exitCode) {
    ShowModalMessage(QStringLiteral("Error"), text);
    std::_Exit(exitCode);
}

}  // namespace

void ErrorHandler(uint32_t code, int exitCode) {
    // Read at once, before anything else this thread does can record a new location.
    const std::source_location where = CurrentLocation();
    const std::string report = FaultReport(code, where.line(), where.file_name());
    std::fputs(report.c_str(), stderr);
    std::fputc('\n', stderr);

    const QString text = QString::fromLocal8Bit(report.c_str());
    QCoreApplication *app = QCoreApplication::instance();
    if (qobject_cast<QApplication *>(app) == nullptr) {
        std::_Exit(exitCode);
    }
    if (QThread::currentThread() == app->thread()) {
        ShowReportAndExit(text, exitCode);
    }
    // Windows belong to the main thread: it shows the box and ends the process. Should it not get
    // to it within ten seconds (it may be waiting for this very thread), end the process here.
    static std::atomic<bool> boxOpening{false};
    QMetaObject::invokeMethod(
        app,
        [text, exitCode] {
            boxOpening = true;
            ShowReportAndExit(text, exitCode);
        },
        Qt::QueuedConnection);
    for (int waited = 0; waited < 10000 && !boxOpening; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (boxOpening) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::_Exit(exitCode);
}
