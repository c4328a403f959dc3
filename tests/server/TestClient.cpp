#include "TestClient.h"

#include "protocol/PasswordDigest.h"

#include <cstring>
#include <thread>

std::string Digest(std::string_view password) {
    return PasswordDigest(password);
}

std::optional<StreamedMessage> DecodeStreamed(const drovik::Bytes &block) {
    if (block.size() < 8)
        return std::nullopt;
    int32_t s = 0, t = 0;
    std::memcpy(&s, block.data(), 4);
    std::memcpy(&t, block.data() + 4, 4);
    if (s < 1 || t < 1 || block.size() != 8 + static_cast<size_t>(s) + static_cast<size_t>(t))
        return std::nullopt;
    const char *sender = reinterpret_cast<const char *>(block.data() + 8);
    const char *text = sender + s;
    // Each part ends with its zero byte and holds no other.
    if (sender[s - 1] != 0 || text[t - 1] != 0 || std::strlen(sender) != size_t(s - 1) ||
        std::strlen(text) != size_t(t - 1))
        return std::nullopt;
    return StreamedMessage{std::string(sender, size_t(s - 1)), std::string(text, size_t(t - 1))};
}

TestMaster::TestMaster() {
    master.onConnectionEvent([this](intptr_t slave, int32_t event) {
        std::lock_guard guard(mutex_);
        events_[slave] = event;
        changed_.notify_all();
    });
}

TestMaster::~TestMaster() = default;

intptr_t TestMaster::connect(int port, int32_t transport) {
    return master.connect("127.0.0.1", port, 5, transport);
}

int32_t TestMaster::connectionEvent(intptr_t slave, std::chrono::milliseconds timeout) {
    std::unique_lock guard(mutex_);
    changed_.wait_for(guard, timeout, [&] { return events_.count(slave) != 0; });
    auto it = events_.find(slave);
    return it == events_.end() ? 0 : it->second;
}

Client::Client(TestMaster &master, int port, int32_t transport)
    : master_(master), slave_(master.connect(port, transport)) {}

drovik::Reply Client::call(const std::string &job, const std::vector<drovik::Value> &params,
                           int32_t replyType) {
    return master_.master.call(slave_, job, params, replyType, std::chrono::seconds(20));
}

int32_t Client::code(const std::string &job, const std::vector<drovik::Value> &params) {
    drovik::Reply reply = call(job, params, DROVIK_TYPE_LONG);
    if (reply.event != DROVIK_EVENT_FINISHED)
        return -reply.event;
    return reply.asLong();
}

std::optional<std::string> Client::text(const std::string &job,
                                        const std::vector<drovik::Value> &params) {
    drovik::Reply reply = call(job, params, DROVIK_TYPE_STRING);
    if (reply.event != DROVIK_EVENT_FINISHED)
        return std::nullopt;
    return reply.asString();
}

drovik::Reply Client::memory(const std::string &job, const std::vector<drovik::Value> &params) {
    return call(job, params, DROVIK_TYPE_MEMORY);
}

int32_t Client::registerAs(const std::string &name, const std::string &password) {
    return code("User_Register", {name, Digest(password), static_cast<int32_t>(password.size())});
}

int32_t Client::login(const std::string &name, const std::string &password) {
    return code("User_Login", {name, Digest(password)});
}

bool Client::enter(const std::string &name, const std::string &password) {
    return registerAs(name, password) == 1 && login(name, password) == 1;
}

std::vector<StreamedMessage> Client::receive(int32_t *count) {
    drovik::Reply reply = call("User_ReceiveMessages", {}, DROVIK_TYPE_NONE);
    if (count)
        *count = reply.event == DROVIK_EVENT_FINISHED ? reply.asLong() : -reply.event;
    std::vector<StreamedMessage> messages;
    for (const drovik::Bytes &block : reply.streamed) {
        auto m = DecodeStreamed(block);
        messages.push_back(m ? *m : StreamedMessage{"<malformed>", ""});
    }
    return messages;
}

std::vector<StreamedMessage> Client::receiveUntil(size_t expected,
                                                  std::chrono::milliseconds timeout) {
    std::vector<StreamedMessage> all;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (all.size() < expected && std::chrono::steady_clock::now() < deadline) {
        auto some = receive();
        if (some.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}
