// The library's failure texts, from one table so that codes and texts cannot drift apart, and the
// small helpers that hand texts and log lines to callers.
#ifndef DROVIK_SRC_ERRORS_H
#define DROVIK_SRC_ERRORS_H

#include <cstdint>
#include <string>

#include "drovik.h"

namespace drovik {

#define DROVIK_ERRORS(X)                                                                      \
    X(UnknownMaster, "Unknown master handle")                                                 \
    X(NoSlave, "No slave connection given")                                                   \
    X(UnknownSlave, "Unknown slave connection (never added, or removed)")                     \
    X(SlaveLost, "The connection to the slave has ended")                                     \
    X(NoJobName, "No job name given")                                                         \
    X(JobNameTooLong, "The job name is longer than 255 bytes")                                \
    X(UnknownList, "Unknown parameter list")                                                  \
    X(JobTooLarge, "The job's parameters exceed the frame limit of 16 MiB")                   \
    X(SendQueueFull, "More than 64 MiB wait to be sent: the slave does not read")             \
    X(BadStreamOptions,                                                                       \
      "Heartbeat values below 10 ms, or a timeout shorter than the interval, are refused")    \
    X(NoHost, "No host given")                                                                \
    X(BadPort, "The port must be between 1 and 65535")                                        \
    X(MasterClosing, "The master is being released")                                          \
    X(OwnCallback, "A master cannot be released from one of its own callbacks")               \
    X(OwnHandler, "A slave cannot be shut down from one of its own job handlers")             \
    X(NoHandler, "No job handler given")                                                      \
    X(UnknownSlaveHandle, "Unknown slave handle")                                             \
    X(UnknownMasterConnection, "Unknown master connection")                                   \
    X(BadJobLimit, "The job limit must be at least 1")                                        \
    X(BadLimit, "Unknown limit, or a value out of its range")                                 \
    X(BadSignature, "Unknown parameter type letter (the letters are m, l, i, f, d, q and s)") \
    X(SlaveShuttingDown, "The slave is shutting down")                                        \
    X(OutOfMemory, "Out of memory")                                                           \
    X(Internal, "Internal failure")

enum class Error {
#define DROVIK_ERROR_ENUM(name, text) name,
    DROVIK_ERRORS(DROVIK_ERROR_ENUM)
#undef DROVIK_ERROR_ENUM
};

const char *errorText(Error e);

// Entry points that return a text keep it in a per-thread slot of their own, valid until the same
// thread's next call of that entry point.
enum class TextSlot { MasterLastError, SlaveLastError, SlaveIP, MasterIP, CacheName, Count };
const char *keepForThread(TextSlot slot, std::string text);

// Calls a log callback (which may be null), shielding the library from anything it throws.
void emitLog(Drovik_LogCallback log, intptr_t owner, intptr_t peer, int32_t level,
             const std::string &text, int32_t kind = DROVIK_LOG_GENERAL);

enum LogLevel : int32_t { kLogInfo = 0, kLogWarning = 1, kLogError = 2 };

}  // namespace drovik

#endif  // DROVIK_SRC_ERRORS_H
