// The online list, sending messages, and collecting and taking the messages the server holds.
#include "Network/Client/Client.h"
#include "Network/Client/ReplyBounds.h"
#include "Network/Client/RoundTrip.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/Jobs.h"

#include <memory>
#include <mutex>

std::string User_GetOnlineUserList() {
    RecordLocation();
    // Bounded before the front-end splits it and fills its list with it.
    return BoundOnlineList(
        RequestRoundTrip(Job::User_GetOnlineUserList.Name, {}, ReplyType_Text).Text);
}

int32_t User_SendMessage(const std::string &recipient, const std::string &text) {
    return RequestRoundTrip(Job::User_SendMessage.Name, {recipient, text}, ReplyType_Long).Long;
}

int32_t User_SendGlobalMessage(const std::string &text) {
    return RequestRoundTrip(Job::User_SendGlobalMessage.Name, {text}, ReplyType_Long).Long;
}

int32_t User_ReceiveMessages() {
    RecordLocation();
    // Both locks for the whole job: the stream callback appends to Messages without a lock of its
    // own, which is safe only while nobody else can reach the list.
    std::lock_guard request(ClientState.RequestMutex);
    std::lock_guard messages(ClientState.MessagesMutex);
    const JobReply reply = RequestRoundTrip(Job::User_ReceiveMessages.Name, {}, ReplyType_None);
    // The next TakeNextMessage starts at the oldest message.
    if (ClientState.Messages != nullptr)
        LinkedList_Reset(ClientState.Messages);
    return reply.MessageCount;
}

int32_t TakeNextMessage() {
    std::lock_guard messages(ClientState.MessagesMutex);
    LinkedList *list = ClientState.Messages;
    if (list == nullptr || LinkedList_Next(list) == 0)
        return 0;
    std::unique_ptr<IncomingMessage> message(
        reinterpret_cast<IncomingMessage *>(LinkedList_GetData(list)));
    // Deleting the element makes its predecessor current, so the next call takes the one after.
    LinkedList_Delete(list);
    --ClientState.QueuedMessages;
    if (message == nullptr) {
        ClientState.CurrentMessageText.clear();
        ClientState.CurrentMessageSender.clear();
    } else {
        ClientState.QueuedBytes -= QueuedMessageBytes(*message);
        ClientState.CurrentMessageText = std::move(message->Text);
        ClientState.CurrentMessageSender = std::move(message->Sender);
    }
    return 1;
}

// The caller takes and reads a message on the same thread; the lock keeps a reader on another
// thread from seeing a text half replaced.
std::string GetMessageSender() {
    std::lock_guard messages(ClientState.MessagesMutex);
    return ClientState.CurrentMessageSender;
}

std::string GetMessageText() {
    std::lock_guard messages(ClientState.MessagesMutex);
    return ClientState.CurrentMessageText;
}
