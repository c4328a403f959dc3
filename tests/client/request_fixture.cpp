#include "request_fixture.h"

#include <optional>
#include <set>
#include <tuple>

namespace {
struct Records {
    std::mutex Lock;
    std::vector<ReceivedJob> Received;
    std::vector<SubmittedJob> Submitted;
    std::map<std::string, Answer> Answers;
    std::set<std::string> Refused;
};
Records &TheRecords() {
    static Records records;
    return records;
}

decltype(Cluster::Drovik_Master_DoJob) RealDoJob = nullptr;

intptr_t DROVIK_CALL RecordingDoJob(intptr_t master, const char *job, intptr_t slave, intptr_t list,
                                    Drovik_Callback callback, int32_t replyType, int32_t a,
                                    int32_t b, int32_t c, int32_t d, int32_t e, int32_t f,
                                    int32_t g) {
    bool refuse = false;
    {
        Records &r = TheRecords();
        std::lock_guard guard(r.Lock);
        r.Submitted.push_back({job, list != 0, replyType});
        refuse = r.Refused.count(job) != 0;
    }
    // A refusal by the library itself: a job for a connection that does not exist. The list
    // passes to the library as always.
    return RealDoJob(master, job, refuse ? 0 : slave, list, callback, replyType, a, b, c, d, e, f,
                     g);
}

// The values of the job's parameter list, by the types it was registered with.
ReceivedValues ReadValues(const drovik::Job &job, const std::string &types) {
    ReceivedValues values;
    for (size_t i = 0; i < types.size(); ++i) {
        const auto index = static_cast<int32_t>(i);
        if (types[i] == 's') {
            values.push_back("s:" + std::string(job.getString(index)));
        } else if (types[i] == 'l') {
            values.push_back("l:" + std::to_string(job.getLong(index)));
        } else {
            const auto bytes = job.getMem(index);
            values.push_back("m:" + std::string(bytes.begin(), bytes.end()));
        }
    }
    return values;
}

int32_t Finish(bool returned) {
    return returned ? DROVIK_EVENT_FINISHED : DROVIK_EVENT_FAILED;
}
}  // namespace

std::vector<uint8_t> PreferencesBlock(std::initializer_list<int32_t> fields, size_t size) {
    std::vector<uint8_t> block(size, 0);
    size_t offset = 0;
    for (const int32_t field : fields) {
        for (int b = 0; b < 4 && offset < size; ++b)
            block[offset++] = uint8_t(uint32_t(field) >> (8 * b));
    }
    return block;
}

void RequestTest::SetUp() {
    server = std::make_unique<drovik::Slave>("127.0.0.1", 0, 4);
    ASSERT_TRUE(server->ok()) << server->error();
    RegisterRequestJobs();
    ClientState.Preferences = {};
    SetLastError("");
    ASSERT_EQ(ClientInit(), 1) << GetLastErrorText();
    ASSERT_NE(ConnectToServer(), 0) << GetLastErrorText();
    ClearRecords();
    {
        std::lock_guard guard(TheRecords().Lock);
        TheRecords().Answers.clear();
        TheRecords().Refused.clear();
    }
    RealDoJob = Cluster::Drovik_Master_DoJob;
    Cluster::Drovik_Master_DoJob = &RecordingDoJob;
}

void RequestTest::TearDown() {
    if (RealDoJob != nullptr)
        Cluster::Drovik_Master_DoJob = RealDoJob;
    ClientTest::TearDown();
}

void RequestTest::AnswerWith(const std::string &job, ::Answer answer) {
    std::lock_guard guard(TheRecords().Lock);
    TheRecords().Answers.insert_or_assign(job, std::move(answer));
}

std::vector<ReceivedJob> RequestTest::Received() {
    std::lock_guard guard(TheRecords().Lock);
    return TheRecords().Received;
}

std::vector<SubmittedJob> RequestTest::Submitted() {
    std::lock_guard guard(TheRecords().Lock);
    return TheRecords().Submitted;
}

std::vector<std::string> RequestTest::SubmittedNames() {
    std::vector<std::string> names;
    for (const SubmittedJob &job : Submitted())
        names.push_back(job.Name);
    return names;
}

void RequestTest::ClearRecords() {
    std::lock_guard guard(TheRecords().Lock);
    TheRecords().Received.clear();
    TheRecords().Submitted.clear();
}

void RequestTest::RefuseSubmissionOf(const std::string &job) {
    std::lock_guard guard(TheRecords().Lock);
    TheRecords().Refused.insert(job);
}

void RequestTest::AcceptAllSubmissions() {
    std::lock_guard guard(TheRecords().Lock);
    TheRecords().Refused.clear();
}

void RequestTest::RegisterRequestJobs() {
    // Job name, parameter types, reply type.
    const std::tuple<const char *, const char *, int32_t> jobs[] = {
        {"User_Register", "ssl", ReplyType_Long},
        {"User_Login", "ss", ReplyType_Long},
        {"User_Logout", "", ReplyType_Long},
        {"User_GetPreferences", "", ReplyType_Memory},
        {"User_GetOnlineUserList", "", ReplyType_Text},
        {"User_SendMessage", "ss", ReplyType_Long},
        {"User_SendGlobalMessage", "s", ReplyType_Long},
        {"User_SetProfile", "s", ReplyType_Long},
        {"User_SetProfileAvatar", "m", ReplyType_Long},
        {"User_GetProfile", "", ReplyType_Text},
        {"User_GetUserProfile", "s", ReplyType_Text},
        {"User_GetProfileAvatar", "", ReplyType_Memory},
        {"User_GetUserProfileAvatar", "s", ReplyType_Memory},
        {"Control_Start", "s", ReplyType_Long},
        {"Control_Stop", "", ReplyType_Long},
        {"Control_ChangePassword", "s", ReplyType_Long},
        {"Control_StopServer", "", ReplyType_Long},
        {"Control_KickUser", "s", ReplyType_Long},
        {"Control_BannUser", "sll", ReplyType_Long},
        {"Control_ForceLogin", "s", ReplyType_Long},
    };
    for (const auto &[name, types, replyType] : jobs) {
        const std::string jobName = name;
        const std::string jobTypes = types;
        const int32_t type = replyType;
        server->addJob(jobName, jobTypes, [=, this](const drovik::Job &job) -> int32_t {
            std::optional<::Answer> answer;
            {
                Records &r = TheRecords();
                std::lock_guard guard(r.Lock);
                r.Received.push_back({jobName, ReadValues(job, jobTypes)});
                if (auto it = r.Answers.find(jobName); it != r.Answers.end())
                    answer = it->second;
            }
            if (!answer) {
                if (type == ReplyType_Long)
                    answer = int32_t{1};
                else if (type == ReplyType_Text)
                    answer = std::string();
                else
                    answer = std::vector<uint8_t>();
            }
            if (std::holds_alternative<HeldAnswer>(*answer)) {
                std::unique_lock guard(holdLock);
                ++holding;
                holdChanged.wait_for(guard, 20s, [this] { return released; });
                return DROVIK_EVENT_FAILED;
            }
            if (const auto *error = std::get_if<ErrorEvent>(&*answer))
                return error->Event;
            if (const auto *code = std::get_if<int32_t>(&*answer))
                return Finish(job.returnLong(*code));
            if (const auto *text = std::get_if<std::string>(&*answer))
                return Finish(job.returnString(*text));
            return Finish(job.returnMemory(std::get<std::vector<uint8_t>>(*answer)));
        });
    }
    server->addJob("User_ReceiveMessages", "", [this](const drovik::Job &job) {
        {
            std::lock_guard guard(TheRecords().Lock);
            TheRecords().Received.push_back({"User_ReceiveMessages", {}});
        }
        for (const auto &message : Messages)
            job.sendMessage(message);
        for (int32_t i = 0; i < FloodCopies; ++i)
            job.sendMessage(FloodMessage);
        if (MessagesError != 0)
            return MessagesError;
        return Finish(job.returnLong(MessagesCount));
    });
}
