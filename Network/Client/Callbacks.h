// The callbacks that the client gives the cluster library, and the texts of its events.
//
// The job callbacks store an outcome only for the job that the running request waits for (their
// third argument, the job id, tells); anything else is dropped. They run on library threads and
// take no lock but ReplySemaphore.Lock (and LastError's own), so they never wait for a request.
#pragma once

#include "drovik.h"

#include <cstdint>
#include <string>

// Outcome of every job but the message-fetching one: stores the value of the reply type asked for
// in the matching reply field, or the failure values and the event's text for an error event.
int32_t DROVIK_CALL JobReplyCallback(intptr_t master, intptr_t slave, intptr_t jobId, int32_t event,
                                     void *data, int32_t size, int32_t type);
// Events of the message-fetching job: each streamed message is appended to Messages; the final
// value is the count in MessageCount.
int32_t DROVIK_CALL MessageStreamCallback(intptr_t master, intptr_t slave, intptr_t jobId,
                                          int32_t event, void *data, int32_t size, int32_t type);
// Kick and shutdown of the connection (and buffer underrun): drops the connection, sets LastError
// and ends the request that waits on that connection with its failure value.
int32_t DROVIK_CALL ConnectionEventCallback(intptr_t master, intptr_t slave, intptr_t jobId,
                                            int32_t event, void *data, int32_t size, int32_t type);
// The library's log: ignored.
int32_t DROVIK_CALL LogCallback(intptr_t owner, intptr_t peer, int32_t level, const char *text,
                                int32_t reserved1, int32_t reserved2);

// The library's last-error text for a master, copied at once; "" when there is none.
std::string GetMasterLastErrorText(intptr_t master);

// The English text of an error or connection event, or null for other events.
const char *JobEventText(int32_t event);

// True for the error events of a job (5 to 8, 159).
bool IsServerErrorEvent(int32_t event);

// Releases a data block that the library handed to a callback. Null is ignored.
void FreeLibraryBlock(void *data);

// Used by the request round trip with ReplySemaphore.Lock held, once its job id is known: applies
// the events that arrived for that job during the submission, and releases the data of all.
void ReplayEarlyJobEvents(intptr_t job);
