// A scripted server for the request operations: every job of the request layer registered on a
// real slave with the exact parameter types it must arrive with (other types or counts are refused
// by the library with event 8), its values recorded as the server received them, and its answer
// chosen by the test. On the client side every submission is recorded at the library's binding,
// so a test sees whether a job was sent at all and whether it carried a parameter list.
#pragma once

#include "client_fixture.h"

#include <map>
#include <variant>

// One value as the server received it: "s:" text, "l:" number, "m:" then the bytes as text.
using ReceivedValues = std::vector<std::string>;

struct ReceivedJob {
    std::string Name;
    ReceivedValues Values;
};

// What the client passed to Drovik_Master_DoJob.
struct SubmittedJob {
    std::string Name;
    bool WithList = false;  // a parameter list, not 0
    int32_t ReplyType = 0;
};

// How the scripted server answers a job.
struct ErrorEvent {
    int32_t Event;
};
struct HeldAnswer {};  // waits until the test releases it (or kicks the client)
using Answer = std::variant<int32_t, std::string, std::vector<uint8_t>, ErrorEvent, HeldAnswer>;

class RequestTest : public ClientTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The answer to a job from now on. Without one: 1, "" or no memory, by the job's reply type.
    void AnswerWith(const std::string &job, ::Answer answer);
    // The jobs the server received, oldest first; and those the client submitted.
    std::vector<ReceivedJob> Received();
    std::vector<SubmittedJob> Submitted();
    std::vector<std::string> SubmittedNames();
    void ClearRecords();
    // Submissions of this job are refused by the library (sent to no connection).
    void RefuseSubmissionOf(const std::string &job);
    void AcceptAllSubmissions();

    // Messages the scripted User_ReceiveMessages streams before it answers with MessagesCount
    // (or ends with MessagesError when that is not 0).
    std::vector<std::vector<uint8_t>> Messages;
    int32_t MessagesCount = 0;
    int32_t MessagesError = 0;
    // Then FloodCopies more copies of FloodMessage, made as they are sent.
    std::vector<uint8_t> FloodMessage;
    int32_t FloodCopies = 0;

private:
    void RegisterRequestJobs();
};

// The preferences block the scripted server sends: six little-endian fields, then zeros.
std::vector<uint8_t> PreferencesBlock(std::initializer_list<int32_t> fields, size_t size);
