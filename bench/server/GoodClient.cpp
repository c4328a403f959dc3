#include "GoodClient.h"

#include <drovik.hpp>

#include <algorithm>
#include <thread>

#include "protocol/PasswordDigest.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPollEvery = 500ms;
constexpr auto kListEvery = 2500ms;
constexpr auto kPrivateEvery = 5s;
constexpr auto kSessionLength = 10s;
// Far beyond the goal of 50 ms: a job that takes this long is a failure, not a slow success.
constexpr auto kJobTimeout = 10s;
constexpr size_t kFailuresKept = 5;

const std::string &digest() {
    static const std::string d = PasswordDigest("good-password");
    return d;
}

std::string describe(const drovik::Reply &reply) {
    if (reply.event == DROVIK_EVENT_FINISHED)
        return "";
    if (reply.event != 0)
        return "event " + std::to_string(reply.event);
    if (reply.connectionEvent != 0)
        return "connection ended (event " + std::to_string(reply.connectionEvent) + ")";
    return "no outcome (connection gone or no answer within 10 s)";
}

}  // namespace

intptr_t GoodClient::connect(drovik::Master &master) const {
    return master.connect("127.0.0.1", server_.port, 5, server_.transport,
                          server_.knownServersFile);
}

bool GoodClient::registerAccount() {
    drovik::Master master;
    intptr_t slave = connect(master);
    if (slave == 0)
        return false;
    drovik::Reply reply = master.call(slave, "User_Register", {name_, digest(), int32_t{13}},
                                      DROVIK_TYPE_LONG, kJobTimeout);
    master.disconnect(slave);
    return reply.event == DROVIK_EVENT_FINISHED && (reply.asLong() == 1 || reply.asLong() == 2);
}

GoodFigures GoodClient::run(Clock::time_point until) {
    GoodFigures figures;
    drovik::Master master;
    // Times one round trip; `attempt` says what went wrong, or nothing.
    auto roundTrip = [&](const std::string &what, auto &&attempt) {
        const auto start = Clock::now();
        const std::string why = attempt();
        ++figures.jobs;
        if (why.empty()) {
            figures.latencyMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            return true;
        }
        ++figures.failures;
        if (figures.firstFailures.size() < kFailuresKept)
            figures.firstFailures.push_back(what + ": " + why);
        return false;
    };
    auto expectCode = [&](intptr_t slave, const std::string &job,
                          const std::vector<drovik::Value> &params) {
        drovik::Reply reply = master.call(slave, job, params, DROVIK_TYPE_LONG, kJobTimeout);
        std::string why = describe(reply);
        if (why.empty() && reply.asLong() != 1)
            why = "code " + std::to_string(reply.asLong());
        return why;
    };
    auto expectDone = [&](intptr_t slave, const std::string &job, int32_t replyType) {
        return describe(master.call(slave, job, {}, replyType, kJobTimeout));
    };

    uint64_t sentPrivate = 0;
    while (Clock::now() < until) {
        intptr_t slave = 0;
        roundTrip("connect", [&] {
            slave = connect(master);
            return slave != 0 ? std::string() : master.lastError();
        });
        bool alive = slave != 0 && roundTrip("User_Login", [&] {
                         return expectCode(slave, "User_Login", {name_, digest()});
                     });
        const auto sessionEnd = std::min(until, Clock::now() + kSessionLength);
        auto nextPoll = Clock::now(), nextList = nextPoll,
             nextPrivate = nextPoll + kPrivateEvery / 2;
        while (alive) {
            const auto due = std::min({nextPoll, nextList, nextPrivate});
            if (due >= sessionEnd) {
                std::this_thread::sleep_until(sessionEnd);
                break;
            }
            std::this_thread::sleep_until(due);
            if (due == nextPoll) {
                alive = roundTrip("User_ReceiveMessages", [&] {
                    return expectDone(slave, "User_ReceiveMessages", DROVIK_TYPE_NONE);
                });
                nextPoll = std::max(nextPoll + kPollEvery, Clock::now());
            } else if (due == nextList) {
                alive = roundTrip("User_GetOnlineUserList", [&] {
                    return expectDone(slave, "User_GetOnlineUserList", DROVIK_TYPE_STRING);
                });
                nextList = std::max(nextList + kListEvery, Clock::now());
            } else {
                alive = roundTrip("User_SendMessage", [&] {
                    return expectCode(slave, "User_SendMessage",
                                      {name_, "note " + std::to_string(++sentPrivate)});
                });
                nextPrivate = std::max(nextPrivate + kPrivateEvery, Clock::now());
            }
        }
        if (alive)
            roundTrip("User_Logout", [&] { return expectCode(slave, "User_Logout", {}); });
        if (slave != 0)
            master.disconnect(slave);
        if (!alive)
            std::this_thread::sleep_for(500ms);  // as a person would try again
    }
    return figures;
}
