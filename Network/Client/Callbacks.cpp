#include "Network/Client/Callbacks.h"

#include "Network/Client/ClientState.h"
#include "Network/Common/CurrentLocation.h"
#include "Network/Include/Drovik_Inc.h"
#include "protocol/StreamedMessage.h"
#include "protocol/WireValues.h"

#include <bit>
#include <memory>
#include <span>
#include <type_traits>

static_assert(std::is_same_v<decltype(&JobReplyCallback), Drovik_Callback>);
static_assert(std::is_same_v<decltype(&LogCallback), Drovik_LogCallback>);

namespace {
std::span<const uint8_t> BlockBytes(const void *data, int32_t size) {
    if (data == nullptr || size <= 0)
        return {};
    return {static_cast<const uint8_t *>(data), static_cast<size_t>(size)};
}

// The functions below run with ReplySemaphore.Lock held, for the awaited job only.

void ResetReplyFields() {
    ClientState.ReplyLong = 0;
    ClientState.ReplyDouble = 0.0;
    ClientState.ReplyText.clear();
    ClientState.ReplyMemory.clear();
    ClientState.ReplyMemorySize = 0;
}

void EndAwaitedJob(int32_t outcome) {
    ClientState.ReplySemaphore.Outcome = outcome;
    ClientState.ReplySemaphore.Released.notify_all();
}

void EndWithError(int32_t event) {
    ResetReplyFields();
    SetLastError(JobEventText(event));
    EndAwaitedJob(event);
}

void EndUnreadable() {
    ResetReplyFields();
    SetLastError(UnreadableReplyText);
    EndAwaitedJob(ReplyOutcome_Unreadable);
}

// Stores the value of a finished job. A value of another type than the one asked for, or without
// the bytes its type needs, ends the request with a failure rather than leaving it to wait.
void StoreReplyValue(std::span<const uint8_t> value, bool present, int32_t type) {
    RecordLocation();
    if (type != ClientState.ReplySemaphore.AwaitedType)
        return EndUnreadable();
    switch (type) {
        case ReplyType_Long:
            if (value.size() < 4)
                return EndUnreadable();
            ClientState.ReplyLong = ReadLittleEndian32(value);
            break;
        case ReplyType_Double: {
            if (value.size() < 8)
                return EndUnreadable();
            uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = bits << 8 | value[size_t(i)];
            ClientState.ReplyDouble = std::bit_cast<double>(bits);
            break;
        }
        case ReplyType_Text:
            if (!present)
                return EndUnreadable();
            ClientState.ReplyText = ReadBoundedText(value);
            break;
        case ReplyType_Memory:
            // No block, or a block of size 0, is a reply without data.
            ClientState.ReplyMemory.assign(value.begin(), value.end());
            ClientState.ReplyMemorySize = static_cast<int32_t>(value.size());
            break;
        default:
            return EndUnreadable();
    }
    EndAwaitedJob(JobEvent_Finished);
}

void ApplyReplyEvent(int32_t event, const void *data, int32_t size, int32_t type) {
    if (event == JobEvent_Finished)
        StoreReplyValue(BlockBytes(data, size), data != nullptr, type);
    else if (IsServerErrorEvent(event))
        EndWithError(event);
}

// The requesting thread holds MessagesMutex, which guards the queue and its bounds, for the whole
// job (and past its end until AwaitedJob is 0, after which nothing of the job gets here).
void AppendStreamedMessage(std::span<const uint8_t> block) {
    RecordLocation();
    if (ClientState.QueuedMessages >= MaxQueuedMessages) {
        ++ClientState.DroppedMessages;  // the queue stays bounded whatever the server streams
        return;
    }
    auto message = std::make_unique<IncomingMessage>();
    if (!DecodeStreamedMessage(block, message->Sender, message->Text)) {
        SetLastError(MalformedMessageText);
        return;
    }
    const size_t bytes = QueuedMessageBytes(*message);
    if (ClientState.QueuedBytes + bytes > MaxQueuedBytes) {
        ++ClientState.DroppedMessages;
        return;
    }
    if (LinkedList_Add(ClientState.Messages) == 0) {
        SetLastError(OutOfMemoryText);
        return;
    }
    LinkedList_SetData(ClientState.Messages, reinterpret_cast<intptr_t>(message.release()));
    ++ClientState.QueuedMessages;
    ClientState.QueuedBytes += bytes;
}

void ApplyStreamEvent(int32_t event, const void *data, int32_t size) {
    const std::span<const uint8_t> block = BlockBytes(data, size);
    if (event == JobEvent_Message) {
        AppendStreamedMessage(block);
    } else if (event == JobEvent_Finished) {
        if (block.size() < 4)
            return EndUnreadable();
        ClientState.MessageCount = ReadLittleEndian32(block);
        EndAwaitedJob(JobEvent_Finished);
    } else if (IsServerErrorEvent(event)) {
        EndWithError(event);
    }
}

void ApplyJobEvent(const EarlyJobEvent &e) {
    if (e.Streamed)
        ApplyStreamEvent(e.Event, e.Data, e.Size);
    else
        ApplyReplyEvent(e.Event, e.Data, e.Size, e.Type);
}

// The common path of both job callbacks.
int32_t DeliverJobEvent(const EarlyJobEvent &e) {
    RecordLocation();
    ReplySignal &signal = ClientState.ReplySemaphore;
    try {
        std::lock_guard guard(signal.Lock);
        if (signal.Submitting) {
            // The submitting request does not know its job id yet; the event waits for it.
            signal.Early.push_back(e);
            return 0;
        }
        if (e.JobId != 0 && e.JobId == signal.AwaitedJob && signal.Outcome == 0)
            ApplyJobEvent(e);
    } catch (...) {
        // Nothing may cross the library's interface; the block is released below.
    }
    FreeLibraryBlock(e.Data);
    return 0;
}

// Ends the request that waits on `slave` (any request when slave is 0) with the event. True when
// there was one. Called with ReplySemaphore.Lock held.
bool InterruptAwaitedRequest(intptr_t slave, int32_t event) {
    ReplySignal &signal = ClientState.ReplySemaphore;
    const bool onThatConnection = slave == 0 || signal.AwaitedSlave == slave;
    if (signal.Submitting && onThatConnection) {
        signal.Interruption = event;
        return true;
    }
    if (signal.AwaitedJob != 0 && signal.Outcome == 0 && onThatConnection) {
        EndAwaitedJob(event);
        return true;
    }
    return false;
}
}  // namespace

bool IsServerErrorEvent(int32_t event) {
    return event == JobEvent_Limit || event == JobEvent_UnknownJob || event == JobEvent_Denied ||
           event == JobEvent_Invalid || event == JobEvent_Failed;
}

const char *JobEventText(int32_t event) {
    switch (event) {
        case JobEvent_Limit:
            return "Reached maximum parallel jobs limit";
        case JobEvent_UnknownJob:
            return "Server does not know your last request";
        case JobEvent_Denied:
            return "You have not the rights to do this request";
        case JobEvent_Invalid:
            return "You have done an invalid request";
        case JobEvent_Failed:
            return "An error occurred during your last request";
        case JobEvent_Shutdown:
            return "Server was shutdown";
        case JobEvent_Kicked:
            return "You where kicked from server";
        case JobEvent_BufferUnderrun:
        case JobEvent_BufferUnderrun2:
            return "Buffer underrun";
        default:
            return nullptr;
    }
}

void FreeLibraryBlock(void *data) {
    if (data != nullptr && Cluster::Drovik_FreeMemory != nullptr)
        Cluster::Drovik_FreeMemory(data);
}

std::string GetMasterLastErrorText(intptr_t master) {
    if (Cluster::Drovik_Master_GetLastError == nullptr)
        return "";
    const char *text = Cluster::Drovik_Master_GetLastError(master);
    return text != nullptr ? text : "";
}

void ReplayEarlyJobEvents(intptr_t job) {
    ReplySignal &signal = ClientState.ReplySemaphore;
    for (const EarlyJobEvent &e : signal.Early) {
        if (job != 0 && e.JobId == job && signal.Outcome == 0)
            ApplyJobEvent(e);
        FreeLibraryBlock(e.Data);
    }
    signal.Early.clear();
}

int32_t DROVIK_CALL JobReplyCallback(intptr_t, intptr_t, intptr_t jobId, int32_t event, void *data,
                                     int32_t size, int32_t type) {
    return DeliverJobEvent({false, jobId, event, data, size, type});
}

int32_t DROVIK_CALL MessageStreamCallback(intptr_t, intptr_t, intptr_t jobId, int32_t event,
                                          void *data, int32_t size, int32_t type) {
    return DeliverJobEvent({true, jobId, event, data, size, type});
}

int32_t DROVIK_CALL ConnectionEventCallback(intptr_t master, intptr_t slave, intptr_t,
                                            int32_t event, void *data, int32_t, int32_t) {
    RecordLocation();
    try {
        const bool ended = event == JobEvent_Kicked || event == JobEvent_Shutdown;
        const bool underrun = event == JobEvent_BufferUnderrun || event == JobEvent_BufferUnderrun2;
        if (ended) {
            if (Cluster::Drovik_Master_RemoveSlave != nullptr)
                Cluster::Drovik_Master_RemoveSlave(master, slave);
            // Only the current connection is forgotten: an event of a connection that the client
            // has replaced already must not end the new one.
            intptr_t current = slave;
            const bool wasCurrent =
                slave != 0 && ClientState.Slave.compare_exchange_strong(current, 0);
            std::lock_guard guard(ClientState.ReplySemaphore.Lock);
            // The waiting request wakes only once this lock is released, and then finds the text.
            const bool interrupted = InterruptAwaitedRequest(slave, event);
            if (wasCurrent || interrupted)
                SetLastError(JobEventText(event));
        } else if (underrun) {
            std::lock_guard guard(ClientState.ReplySemaphore.Lock);
            SetLastError(JobEventText(event));
            InterruptAwaitedRequest(0, event);
        }
    } catch (...) {
        // Nothing may cross the library's interface.
    }
    FreeLibraryBlock(data);
    return 0;
}

int32_t DROVIK_CALL LogCallback(intptr_t, intptr_t, int32_t, const char *, int32_t, int32_t) {
    return 0;
}
