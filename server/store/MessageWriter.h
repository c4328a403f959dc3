// Writes private messages, and removes those their recipients have received, on one thread with
// a connection of its own. Whatever queues up while one commit is being made durable goes into
// the next commit together, so under load many messages share one fsync; each caller hears of its
// own message once it is committed, without holding a thread while the disk takes its time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "store/PrivateMessageTable.h"
#include "store/Sql.h"

class MessageWriter {
public:
    // Called on the writer's thread after every commit, once for each message it kept, in the
    // order of their ids. It must not call back into the writer.
    using Committed = std::function<void(int64_t id, const std::string &recipient,
                                         const std::string &sender, const std::string &text)>;

    // Writes on `connection` (Database::connectWriter), whose store has the current schema.
    // A recipient may have at most `perRecipientLimit` messages kept.
    MessageWriter(std::unique_ptr<Connection> connection, int64_t perRecipientLimit,
                  Committed committed);
    // Commits what is queued, then stops.
    ~MessageWriter();
    MessageWriter(const MessageWriter &) = delete;
    MessageWriter &operator=(const MessageWriter &) = delete;

    enum class Status { Kept, UnknownRecipient, Full, Failed };
    struct Result {
        Status status = Status::Failed;
        int64_t id = 0;
    };
    // Called once per added message: on the writer's thread after the commit that kept or refused
    // it, or at once on the caller's when the writer has stopped. It may add and remove, but not
    // wait (waitFor): the writer is the one that would end the wait.
    using Done = std::function<void(const Result &)>;
    // Keeps the message and returns at once; `done` hears whether it is committed.
    void add(std::string recipient, std::string sender, std::string text, Done done);
    // Queues the removal of the recipient's messages with these ids and returns at once, with a
    // ticket for waitFor. If the store fails the messages stay kept (and are logged).
    uint64_t remove(std::string recipient, std::vector<int64_t> ids);
    // Called once every change queued up to a ticket has been committed (or has failed): at once
    // on the caller's thread when they have, else on the writer's after that commit. The same
    // rules as for Done.
    using Settled = std::function<void()>;
    void whenFinished(uint64_t ticket, Settled settled);
    // Returns once every change queued up to the ticket has been committed (or has failed).
    void waitFor(uint64_t ticket);

    struct Counts {
        uint64_t kept = 0, removed = 0, commits = 0, failedCommits = 0;
    };
    Counts counts();

private:
    struct Change;
    struct TicketWaiter {
        uint64_t ticket = 0;
        Settled settled;
    };
    uint64_t enqueue(std::unique_ptr<Change> change);
    void run();
    void commit(const std::vector<std::unique_ptr<Change>> &batch);
    void apply(Change &change);
    int64_t &countOf(const std::string &recipient);

    std::unique_ptr<Connection> db_;
    const int64_t limit_;
    Committed committed_;

    std::mutex mutex_;  // guards the fields below
    std::condition_variable queued_;
    std::vector<std::unique_ptr<Change>> queue_;
    std::vector<TicketWaiter> ticketWaiters_;  // of whenFinished
    uint64_t tickets_ = 0, finished_ = 0;      // changes queued and finished so far
    bool stopping_ = false;
    Counts counts_;

    // Only the writer's thread touches these: messages kept per recipient, counted once.
    std::unordered_map<std::string, int64_t> perRecipient_;
    std::thread thread_;  // last: starts once everything above exists
};
