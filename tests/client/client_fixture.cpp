#include "client_fixture.h"

namespace {
int32_t Finish(bool returned) {
    return returned ? DROVIK_EVENT_FINISHED : DROVIK_EVENT_FAILED;
}
}  // namespace

void ClientTest::RegisterJobs() {
    drovik::Slave &s = *server;
    s.addJob("Test_Long", "l",
             [](const drovik::Job &job) { return Finish(job.returnLong(job.getLong(0) + 1)); });
    s.addJob("Test_Parameters", "slm", [](const drovik::Job &job) {
        std::string answer = std::string(job.getString(0)) + "|" + std::to_string(job.getLong(1));
        for (uint8_t b : job.getMem(2))
            answer += "|" + std::to_string(b);
        return Finish(job.returnString(answer));
    });
    s.addJob("Test_Text", "",
             [](const drovik::Job &job) { return Finish(job.returnString("alice\n\rbob\n\r")); });
    s.addJob("Test_Memory", "", [](const drovik::Job &job) {
        const uint8_t bytes[] = {1, 2, 3, 0, 255};
        return Finish(job.returnMemory(bytes));
    });
    s.addJob("Test_EmptyMemory", "",
             [](const drovik::Job &job) { return Finish(job.returnMemory({})); });
    s.addJob("Test_Double", "",
             [](const drovik::Job &job) { return Finish(job.returnDouble(-2.5)); });
    s.addJob("Test_Float", "", [](const drovik::Job &job) {
        return Finish(Drovik_Return_Float(job.id(), 1.5f) != 0);
    });
    s.addJob("Test_Event", "l", [](const drovik::Job &job) { return job.getLong(0); });
    s.addJob("Test_Delayed", "l", [](const drovik::Job &job) {
        std::this_thread::sleep_for(200ms);
        return Finish(job.returnLong(job.getLong(0)));
    });
    s.addJob("Test_Stream", "", [this](const drovik::Job &job) {
        for (const auto &message : streamed)
            job.sendMessage(message);
        return Finish(job.returnLong(static_cast<int32_t>(streamed.size())));
    });
    s.addJob("Test_StreamWithoutCount", "",
             [](const drovik::Job &job) { return Finish(job.returnMemory({})); });
    s.addJob("Test_Hold", "", [this](const drovik::Job &job) {
        std::unique_lock guard(holdLock);
        ++holding;
        holdChanged.wait_for(guard, 20s, [this] { return released; });
        return Finish(job.returnLong(42));
    });
}

std::vector<std::string> ReceivedMessages() {
    std::vector<std::string> lines;
    std::lock_guard guard(ClientState.MessagesMutex);
    for (const LinkedListElement *e = ClientState.Messages->First; e != nullptr; e = e->Next) {
        const auto *m = reinterpret_cast<const IncomingMessage *>(e->Data);
        lines.push_back(m->Sender + ": " + m->Text);
    }
    return lines;
}
