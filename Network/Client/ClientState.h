// The client request layer's single global record, and its last-error text.
#pragma once

#include "Network/Common/IncomingMessage.h"
#include "Network/Common/JobEvents.h"
#include "Network/Common/Preferences.h"
#include "Network/LinkedList/LinkedList.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// A callback event that arrived while its job was still being submitted. It waits here, with its
// data block, until the submitting request knows its job id.
struct EarlyJobEvent {
    bool Streamed = false;  // for MessageStreamCallback rather than JobReplyCallback
    intptr_t JobId = 0;
    int32_t Event = 0;
    void *Data = nullptr;
    int32_t Size = 0;
    int32_t Type = 0;
};

// The outcome of a job whose value the client refused: of a type other than the one asked for, or
// missing where one is needed. The request ends with its failure value.
inline constexpr int32_t ReplyOutcome_Unreadable = -1;
// The outcome of a job that did not end within RequestTimeoutMs. Whatever of it arrives later is
// dropped by its job id.
inline constexpr int32_t ReplyOutcome_TimedOut = -2;

// What the received-message queue (Messages) may hold: messages streamed beyond either bound are
// dropped and counted in DroppedMessages. Far above what a server sends in one poll.
inline constexpr int32_t MaxQueuedMessages = 1000;
inline constexpr size_t MaxQueuedBytes = size_t{4} << 20;  // as QueuedMessageBytes counts them

// Carries one job outcome from a library thread to the request that waits for it. Each request
// names the job it waits for (the job id that the library passes to every callback of the job), so
// an outcome or connection event that belongs to no waiting request is dropped instead of being
// taken as the next request's reply. Lock guards the fields below and the reply fields of
// ClientStateRecord.
struct ReplySignal {
    std::mutex Lock;
    std::condition_variable Released;
    bool Submitting = false;    // a request is inside Drovik_Master_DoJob
    intptr_t AwaitedJob = 0;    // the job the running request waits for; 0: none
    intptr_t AwaitedSlave = 0;  // the connection it was submitted to
    int32_t AwaitedType = 0;    // the ReplyType it asked for
    // 0 while waiting; then the JobEvent or ReplyOutcome_Unreadable. Written under Lock; read
    // without it by a request that looks for its reply before it sleeps.
    std::atomic<int32_t> Outcome{0};
    int32_t Interruption = 0;  // a connection event that arrived during the submission
    std::vector<EarlyJobEvent> Early;
};

struct ClientStateRecord {
    intptr_t Master = 0;                // the client's master in the cluster library
    ReplySignal ReplySemaphore;         // carries each job outcome to the waiting request
    std::atomic<intptr_t> Slave{0};     // the connection to the server; 0: not connected
    std::recursive_mutex RequestMutex;  // serialises every request, Connect, Disconnect, DeInit

    // Values of the awaited job's reply, written by the callbacks under ReplySemaphore.Lock.
    int32_t ReplyLong = 0;
    double ReplyDouble = 0.0;
    std::string ReplyText;
    std::vector<uint8_t> ReplyMemory;  // copy of a memory reply; empty: none
    int32_t ReplyMemorySize = 0;
    int32_t MessageCount = 0;  // final value of the message-fetching job

    ::Preferences Preferences;  // the server's preferences, zero until the first are received

    LinkedList *Messages = nullptr;      // IncomingMessage records received and not yet taken
    std::recursive_mutex MessagesMutex;  // guards Messages, its bounds and the current message
    int32_t QueuedMessages = 0;          // records in Messages
    size_t QueuedBytes = 0;              // their QueuedMessageBytes
    int64_t DroppedMessages = 0;  // streamed messages dropped at the bounds, since ClientInit
    std::string CurrentMessageText;
    std::string CurrentMessageSender;

    std::string
        LastError;  // reason of the last failure; only through SetLastError/GetLastErrorText
    std::mutex LastErrorLock;

    intptr_t Cache = 0;  // the local cache of profiles and avatars
    std::recursive_mutex CacheMutex;

    std::atomic<bool> Initialised{false};  // between a successful ClientInit and ClientDeInit
};

extern ClientStateRecord ClientState;

// Replaces LastError; a reader on another thread gets either the old text or the new, whole.
void SetLastError(std::string_view text);

// Texts of the client's own failures.
inline constexpr char NotInitialisedText[] = "The client is not initialised";
inline constexpr char UnreadableReplyText[] = "The server sent a reply that the client cannot read";
inline constexpr char MalformedMessageText[] = "A received message was malformed and was dropped";
inline constexpr char OutOfMemoryText[] = "Not enough memory for the request";
inline constexpr char TimedOutText[] = "The server did not answer in time";
