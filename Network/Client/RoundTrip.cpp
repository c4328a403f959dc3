#include "Network/Client/RoundTrip.h"

#include "Network/CT/SpinWait.h"
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/ClientState.h"
#include "Network/Common/CurrentLocation.h"
#include "Network/Include/Drovik_Inc.h"

#include <chrono>
#include <cstring>
#include <mutex>

int32_t RequestTimeoutMs = RequestTimeoutLimitMs;

namespace {
// How long a request looks for its reply before it sleeps: a round trip on a quiet local link.
constexpr std::chrono::microseconds ReplySpinLimit{50};
}  // namespace

namespace {
// Copies the memory values into library blocks before any list exists: the library offers no way
// to release a list other than submitting it, so nothing may fail once one is created. False when
// a block cannot be had; the blocks made so far are released then.
bool PrepareMemoryBlocks(std::initializer_list<JobParameter> parameters,
                         std::vector<void *> &blocks) {
    for (const JobParameter &parameter : parameters) {
        const auto *bytes = std::get_if<std::span<const uint8_t>>(&parameter);
        if (bytes == nullptr)
            continue;
        void *block = nullptr;
        if (bytes->size() <= INT32_MAX)
            block = Cluster::Drovik_AllocateMemory(static_cast<int32_t>(bytes->size()));
        if (block == nullptr && !bytes->empty()) {
            for (void *made : blocks)
                FreeLibraryBlock(made);
            return false;
        }
        if (!bytes->empty())
            std::memcpy(block, bytes->data(), bytes->size());
        blocks.push_back(block);
    }
    return true;
}

// The job's parameter list, or 0 for a job without parameters. Memory blocks pass to the list.
intptr_t BuildParameterList(std::initializer_list<JobParameter> parameters,
                            const std::vector<void *> &blocks) {
    if (parameters.size() == 0)
        return 0;
    const intptr_t list = Cluster::Drovik_Parameter_New();
    size_t nextBlock = 0;
    for (const JobParameter &parameter : parameters) {
        if (const auto *text = std::get_if<std::string_view>(&parameter)) {
            Cluster::Drovik_Parameter_AddString(list, std::string(*text).c_str());
        } else if (const auto *value = std::get_if<int32_t>(&parameter)) {
            Cluster::Drovik_Parameter_AddLong(list, *value);
        } else {
            const auto &bytes = std::get<std::span<const uint8_t>>(parameter);
            Cluster::Drovik_Parameter_AddMem(list, blocks[nextBlock++],
                                             static_cast<int32_t>(bytes.size()));
        }
    }
    return list;
}

// Takes the awaited job's result from the reply fields. ReplySemaphore.Lock is held.
void CollectReply(int32_t replyType, JobReply &reply) {
    reply.Event = ClientState.ReplySemaphore.Outcome;
    if (reply.Event == JobEvent_Finished) {
        // Only the field of the type asked for: the others hold what earlier replies left there.
        switch (replyType) {
            case ReplyType_Long:
                reply.Long = ClientState.ReplyLong;
                break;
            case ReplyType_Double:
                reply.Double = ClientState.ReplyDouble;
                break;
            case ReplyType_Text:
                reply.Text = ClientState.ReplyText;
                break;
            case ReplyType_Memory:
                // The block passes to the request: the field keeps no address of it.
                reply.Memory = std::move(ClientState.ReplyMemory);
                ClientState.ReplyMemory.clear();
                ClientState.ReplyMemorySize = 0;
                break;
            case ReplyType_None:
                reply.MessageCount = ClientState.MessageCount;
                break;
        }
    } else if (replyType == ReplyType_None && IsServerErrorEvent(reply.Event)) {
        // An error event of the server: the count of the previous job stands.
        reply.MessageCount = ClientState.MessageCount;
    }
}
}  // namespace

JobReply RequestRoundTrip(std::string_view JobName, std::initializer_list<JobParameter> Parameters,
                          int32_t ReplyType) {
    RecordLocation();
    std::lock_guard request(ClientState.RequestMutex);
    const bool streamed = ReplyType == ReplyType_None;
    std::unique_lock messages(ClientState.MessagesMutex, std::defer_lock);
    if (streamed)
        messages.lock();

    JobReply reply;
    if (!ClientState.Initialised) {
        SetLastError(NotInitialisedText);
        return reply;
    }
    std::vector<void *> blocks;
    if (!PrepareMemoryBlocks(Parameters, blocks)) {
        SetLastError(OutOfMemoryText);
        return reply;
    }
    RecordLocation();
    const intptr_t list = BuildParameterList(Parameters, blocks);
    const std::string jobName(JobName);
    const intptr_t slave = ClientState.Slave.load();

    ReplySignal &signal = ClientState.ReplySemaphore;
    {
        std::lock_guard guard(signal.Lock);
        signal.Submitting = true;
        signal.AwaitedJob = 0;
        signal.AwaitedSlave = slave;
        signal.AwaitedType = ReplyType;
        signal.Outcome = 0;
        signal.Interruption = 0;
        signal.Early.reserve(16);
    }
    // Callbacks of this job that come before DoJob returns wait in signal.Early: the library may
    // run them at once, and only the job id that DoJob returns tells them from stale ones.
    RecordLocation();
    const intptr_t job = Cluster::Drovik_Master_DoJob(
        ClientState.Master, jobName.c_str(), slave, list,
        streamed ? &MessageStreamCallback : &JobReplyCallback, ReplyType, 0, 0, 0, 0, 0, 0, 1);

    RecordLocation();
    std::unique_lock guard(signal.Lock);
    signal.Submitting = false;
    signal.AwaitedJob = job;
    ReplayEarlyJobEvents(job);
    if (job == 0) {
        // A connection event during the submission has set its own, more telling text.
        const bool interrupted = signal.Interruption != 0;
        guard.unlock();
        if (!interrupted)
            SetLastError(GetMasterLastErrorText(ClientState.Master));
        return reply;
    }
    if (signal.Outcome == 0 && signal.Interruption != 0) {
        // The connection ended while the job was being submitted: no outcome of it will follow.
        signal.Outcome = signal.Interruption;
    }
    // A server that keeps the connection alive but never ends the job must not hold the request
    // (and with it every other request) for ever. Once AwaitedJob is 0 again, whatever of this job
    // still arrives finds no request waiting for its id and is dropped.
    if (signal.Outcome == 0) {
        guard.unlock();
        SpinBriefly([&] { return signal.Outcome.load(std::memory_order_acquire) != 0; },
                    ReplySpinLimit);
        guard.lock();
    }
    const bool ended = signal.Released.wait_for(guard, std::chrono::milliseconds(RequestTimeoutMs),
                                                [&] { return signal.Outcome != 0; });
    RecordLocation();
    if (!ended) {
        signal.Outcome = ReplyOutcome_TimedOut;
        SetLastError(TimedOutText);
    }
    CollectReply(ReplyType, reply);
    signal.AwaitedJob = 0;
    return reply;
}
