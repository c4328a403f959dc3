// Reports an unhandled fault: a box titled "Error" with the fault's text, the line and the file of
// the last recorded location, then the process ends with a non-zero exit code (a crash is never
// reported as success). No shutdown step runs.
#pragma once

#include <cstdint>
#include <string>

// Fault codes: the values of the Windows exception codes; other platforms map their faults onto
// them, so that one table gives every text.
namespace FaultCode {
constexpr uint32_t AccessViolation = 0xC0000005;
constexpr uint32_t ArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t Breakpoint = 0x80000003;
constexpr uint32_t DatatypeMisalignment = 0x80000002;
constexpr uint32_t FloatDenormalOperand = 0xC000008D;
constexpr uint32_t FloatDivideByZero = 0xC000008E;
constexpr uint32_t FloatInexactResult = 0xC000008F;
constexpr uint32_t FloatInvalidOperation = 0xC0000090;
constexpr uint32_t FloatOverflow = 0xC0000091;
constexpr uint32_t FloatStackCheck = 0xC0000092;
constexpr uint32_t FloatUnderflow = 0xC0000093;
constexpr uint32_t IllegalInstruction = 0xC000001D;
constexpr uint32_t InPageError = 0xC0000006;
constexpr uint32_t IntegerDivideByZero = 0xC0000094;
constexpr uint32_t IntegerOverflow = 0xC0000095;
constexpr uint32_t InvalidDisposition = 0xC0000026;
constexpr uint32_t NoncontinuableException = 0xC0000025;
constexpr uint32_t PrivilegedInstruction = 0xC0000096;
constexpr uint32_t SingleStep = 0x80000004;
constexpr uint32_t StackOverflow = 0xC00000FD;
constexpr uint32_t Unknown = 0;  // any code outside the table
}  // namespace FaultCode

// The text for a fault code; "Unknown error code" for any code outside the table.
const char *FaultText(uint32_t code);

// The whole report: fault text, "\rLine: " and the line, "\rFile: " and the file's path.
std::string FaultReport(uint32_t code, uint32_t line, const char *file);

// Shows the report of the current location and ends the process with exitCode. Runs on the
// faulting thread; the box itself is shown by the main thread. Never returns.
[[noreturn]] void ErrorHandler(uint32_t code, int exitCode);

// Installs the platform's handler for unhandled faults (platform file), and a terminate handler
// for C++ exceptions nobody caught. Removing it restores what was there before.
void InstallErrorHandler();
void RemoveErrorHandler();
