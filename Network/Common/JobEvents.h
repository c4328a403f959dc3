// Value types and event codes of the cluster library's callbacks, as the client request layer and
// the front-end read them. The numbers are the library's (drovik.h); these names are the client's.
#pragma once

#include <cstdint>

// Type of a job's reply value: passed to the library with the job, and delivered to the callback.
enum ReplyType : int32_t {
    ReplyType_Memory = -1,  // size bytes of memory
    ReplyType_None = 0,     // the job streams messages and ends with a 32-bit count
    ReplyType_Long = 2,     // signed 32-bit integer, little-endian
    ReplyType_Text = 5,     // zero-terminated 8-bit text
    ReplyType_Double = 6,   // IEEE 754 double, little-endian
};

// Event code, the fourth argument of a callback.
enum JobEvent : int32_t {
    JobEvent_Finished = 1,    // the job ended; the data block holds its value
    JobEvent_Message = 4,     // one message streamed by the running job
    JobEvent_Limit = 5,       // refused: too many jobs at once
    JobEvent_UnknownJob = 6,  // the server does not know the job name
    JobEvent_Denied = 7,      // the client lacks the rights for the job
    JobEvent_Invalid = 8,     // the request was not valid
    JobEvent_Failed = 159,    // the job failed on the server
    JobEvent_Shutdown = 160,  // the server shut down, or the connection was lost
    JobEvent_Kicked = 163,    // the server kicked the client
    JobEvent_BufferUnderrun = 254,
    JobEvent_BufferUnderrun2 = 255,
};
