// The request round trip: every request operation submits one named job to the server and waits
// for its outcome through this helper. A request is a few lines on top of it, for instance
//
//   int32_t User_SendMessage(const std::string &recipient, const std::string &text) {
//       return RequestRoundTrip(Job::User_SendMessage.Name, {recipient, text},
//       ReplyType_Long).Long;
//   }
//
// The helper takes RequestMutex for the whole round trip (and MessagesMutex after it for a
// ReplyType_None job). Both are re-entrant, so a request that must hold them across more steps
// (a login with its nested preferences request) takes them itself and calls the helper inside.
#pragma once

#include "Network/Common/JobEvents.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One value of a job's parameter list: a text (appended with Drovik_Parameter_AddString), a
// signed 32-bit integer (AddLong) or memory (copied into a library block, AddMem).
using JobParameter = std::variant<std::string_view, int32_t, std::span<const uint8_t>>;

// What a request got. On every failure the value fields hold the failure values (0, "" or no
// memory) and GetLastErrorText tells why; never a value that an earlier request left behind.
struct JobReply {
    // JobEvent_Finished when the job's value arrived; an error event (5 to 8, 159) the server sent;
    // a connection event (160, 163, 254, 255) that ended the wait; ReplyOutcome_Unreadable for a
    // value the client refused; ReplyOutcome_TimedOut when no outcome came in time; 0 when the job
    // was not submitted.
    int32_t Event = 0;
    int32_t Long = 0;
    double Double = 0.0;
    std::string Text;
    std::vector<uint8_t> Memory;  // empty: no data
    // ReplyType_None jobs: the final count. After an error event, the count that the previous job
    // left in MessageCount (the messages that arrived before the error stay in the list).
    int32_t MessageCount = 0;

    bool Received() const { return Event == JobEvent_Finished; }
};

// Submits JobName with the parameters in order (none: no parameter list at all) to the current
// connection, asking for a reply of ReplyType, and waits for the outcome. The callback is
// MessageStreamCallback for ReplyType_None and JobReplyCallback for every other type. A refused
// submission gives the library's text in LastError. The wait ends with the job's outcome, with an
// event of its connection, or after RequestTimeoutMs (TimedOutText in LastError).
JobReply RequestRoundTrip(std::string_view JobName, std::initializer_list<JobParameter> Parameters,
                          int32_t ReplyType);
