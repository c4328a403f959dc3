// Start-up and teardown of the client layer, and the connection to the server.
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"

#include <chrono>
#include <thread>

int32_t ClientDeInitDelayMs = 1000;

namespace {
// Frees the messages that were received and not taken. MessagesMutex is held.
void FreeReceivedMessages() {
    LinkedList *messages = ClientState.Messages;
    LinkedList_Reset(messages);
    while (LinkedList_Next(messages) != 0) {
        delete reinterpret_cast<IncomingMessage *>(LinkedList_GetData(messages));
        LinkedList_Delete(messages);
    }
    LinkedList_Free(messages);
    ClientState.Messages = nullptr;
    ClientState.QueuedMessages = 0;
    ClientState.QueuedBytes = 0;
    ClientState.CurrentMessageText.clear();
    ClientState.CurrentMessageSender.clear();
}

// Back to the state at start, so that a later ClientInit begins afresh. ReplySemaphore.Lock held.
void ResetReplyState() {
    ReplySignal &signal = ClientState.ReplySemaphore;
    ReplayEarlyJobEvents(0);  // releases anything left over
    signal.Submitting = false;
    signal.AwaitedJob = 0;
    signal.AwaitedSlave = 0;
    signal.AwaitedType = 0;
    signal.Outcome = 0;
    signal.Interruption = 0;
    ClientState.ReplyLong = 0;
    ClientState.ReplyDouble = 0.0;
    ClientState.ReplyText.clear();
    ClientState.ReplyMemory.clear();
    ClientState.ReplyMemorySize = 0;
    ClientState.MessageCount = 0;
}

void ReleaseCache() {
    std::lock_guard cache(ClientState.CacheMutex);
    if (ClientState.Cache != 0)
        Cluster::Drovik_Cache_Free(ClientState.Cache);
    ClientState.Cache = 0;
}
}  // namespace

int32_t ClientInit() {
    std::lock_guard request(ClientState.RequestMutex);
    if (ClientState.Initialised)
        return 1;
    if (const std::string missing = MissingClientEntryPoint(); !missing.empty()) {
        SetLastError("The cluster library is not loaded (" + missing + " is missing)");
        return 0;
    }
    ClientState.Master = Cluster::Drovik_Master_Init(&LogCallback);
    if (ClientState.Master == 0) {
        const std::string reason = GetMasterLastErrorText(0);
        SetLastError(reason.empty() ? "The cluster library cannot create a master" : reason);
        return 0;
    }
    {
        std::lock_guard guard(ClientState.ReplySemaphore.Lock);
        ResetReplyState();
    }
    {
        std::lock_guard cache(ClientState.CacheMutex);
        ClientState.Cache = Cluster::Drovik_Cache_New(0, 0, 0);
    }
    {
        std::lock_guard messages(ClientState.MessagesMutex);
        ClientState.Messages = LinkedList_New();
        ClientState.QueuedMessages = 0;
        ClientState.QueuedBytes = 0;
        ClientState.DroppedMessages = 0;
    }
    if (ClientState.Cache == 0 || ClientState.Messages == nullptr) {
        SetLastError(ClientState.Cache == 0 ? "The cluster library cannot create the cache"
                                            : OutOfMemoryText);
        Cluster::Drovik_Master_DeInit(ClientState.Master);
        ClientState.Master = 0;
        ReleaseCache();
        std::lock_guard messages(ClientState.MessagesMutex);
        LinkedList_Free(ClientState.Messages);
        ClientState.Messages = nullptr;
        return 0;
    }
    Cluster::Drovik_Master_SetCallback(ClientState.Master, &ConnectionEventCallback, 0);
    ClientState.Initialised = true;
    return 1;
}

intptr_t Connect(const std::string &Host, int32_t Port, const std::string &ClientName,
                 int32_t Reserved1, const std::string &Reserved2, const std::string &Reserved3,
                 int32_t Reserved4, int32_t TimeoutSeconds) {
    std::lock_guard request(ClientState.RequestMutex);
    if (!ClientState.Initialised) {
        SetLastError(NotInitialisedText);
        return 0;
    }
    if (const intptr_t old = ClientState.Slave.exchange(0); old != 0)
        Cluster::Drovik_Master_RemoveSlave(ClientState.Master, old);
    const intptr_t slave = Cluster::Drovik_Master_AddSlave(
        ClientState.Master, Host.c_str(), Port, ClientName.c_str(), Reserved1, Reserved2.c_str(),
        Reserved3.c_str(), Reserved4, TimeoutSeconds);
    ClientState.Slave.store(slave);
    if (slave == 0)
        SetLastError(GetMasterLastErrorText(ClientState.Master));
    return slave;
}

intptr_t Disconnect() {
    std::lock_guard request(ClientState.RequestMutex);
    if (const intptr_t slave = ClientState.Slave.exchange(0); slave != 0 && ClientState.Initialised)
        Cluster::Drovik_Master_RemoveSlave(ClientState.Master, slave);
    return ClientState.Slave.load();
}

int32_t ClientDeInit() {
    {
        std::lock_guard request(ClientState.RequestMutex);
        if (!ClientState.Initialised)
            return 1;
        ClientState.Initialised = false;
        if (const intptr_t slave = ClientState.Slave.exchange(0); slave != 0)
            Cluster::Drovik_Master_RemoveSlave(ClientState.Master, slave);
        // After DeInit no callback of the master runs any more.
        Cluster::Drovik_Master_DeInit(ClientState.Master);
        ClientState.Master = 0;
        {
            std::lock_guard messages(ClientState.MessagesMutex);
            FreeReceivedMessages();
        }
        std::lock_guard guard(ClientState.ReplySemaphore.Lock);
        ResetReplyState();
    }
    ReleaseCache();
    if (ClientDeInitDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ClientDeInitDelayMs));
    return 1;
}
