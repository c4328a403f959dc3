// What the server tells the library about the peers it faces: the connection, time and memory
// limits from the options, the open-file limit they must fit under, and a log callback that
// brings the library's events into the server's log without letting a peer flood it.
#pragma once

#include <drovik.hpp>

#include <cstdint>

#include "ServerOptions.h"

// Raises the process's soft limit of open files to its hard limit; returns the soft limit now in
// force.
int64_t RaiseOpenFileLimit();

// The connections the server allows in total: the option, or what the open-file limit leaves
// after the server's own files.
int64_t ConnectionLimit(const ServerOptions &options, int64_t openFileLimit);
// The largest frame a client needs: the largest avatar or text with room for the job around it.
int64_t FrameLimit(const ServerOptions &options);

// Sets every limit of the slave from the options; false (with a log line) when the library
// refuses one.
bool ApplySlaveLimits(drovik::Slave &slave, const ServerOptions &options, int64_t openFileLimit);

// The slave's log callback: each kind of event a peer can cause is logged at its 1st, 10th,
// 100th, ... occurrence; the library's other events always.
int32_t DROVIK_CALL LogLibraryEvent(intptr_t slave, intptr_t master, int32_t level,
                                    const char *text, int32_t kind, int32_t reserved);
