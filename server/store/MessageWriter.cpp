#include "store/MessageWriter.h"

#include <algorithm>
#include <future>

#include "Log.h"
#include "store/Store.h"

namespace {

// Runs what a caller gave to hear of its change: whatever it does with it, the writer goes on with
// the next commit.
template <typename Callback>
void Tell(const Callback &callback) {
    try {
        callback();
    } catch (const std::exception &e) {
        LogEvent("after a commit of private messages: ", e.what());
    }
}

}  // namespace

struct MessageWriter::Change {
    bool isRemoval = false;
    uint64_t ticket = 0;
    std::string recipient, sender, text;
    std::vector<int64_t> ids;
    Result result;
    Done done;  // an added message's, called once it is committed or refused
};

MessageWriter::MessageWriter(std::unique_ptr<Connection> connection, int64_t perRecipientLimit,
                             Committed committed)
    : db_(std::move(connection)),
      limit_(perRecipientLimit),
      committed_(std::move(committed)),
      thread_([this] { run(); }) {}

MessageWriter::~MessageWriter() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    queued_.notify_one();
    thread_.join();
    LogEvent("private messages: ", counts_.kept, " kept and ", counts_.removed, " removed in ",
             counts_.commits, " commits (", counts_.failedCommits, " failed)");
}

uint64_t MessageWriter::enqueue(std::unique_ptr<Change> change) {
    // With the mutex held.
    change->ticket = ++tickets_;
    queue_.push_back(std::move(change));
    if (queue_.size() == 1)
        queued_.notify_one();
    return tickets_;
}

void MessageWriter::add(std::string recipient, std::string sender, std::string text, Done done) {
    auto change = std::make_unique<Change>();
    change->recipient = std::move(recipient);
    change->sender = std::move(sender);
    change->text = std::move(text);
    change->done = std::move(done);
    {
        std::lock_guard guard(mutex_);
        if (!stopping_) {
            enqueue(std::move(change));
            return;
        }
    }
    change->done(Result{Status::Failed, 0});
}

uint64_t MessageWriter::remove(std::string recipient, std::vector<int64_t> ids) {
    auto change = std::make_unique<Change>();
    change->isRemoval = true;
    change->recipient = std::move(recipient);
    change->ids = std::move(ids);
    std::lock_guard guard(mutex_);
    if (stopping_)
        return 0;
    return enqueue(std::move(change));
}

void MessageWriter::whenFinished(uint64_t ticket, Settled settled) {
    {
        std::lock_guard guard(mutex_);
        if (finished_ < ticket && !(stopping_ && queue_.empty())) {
            ticketWaiters_.push_back(TicketWaiter{ticket, std::move(settled)});
            return;
        }
    }
    settled();
}

void MessageWriter::waitFor(uint64_t ticket) {
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> settled = finished->get_future();
    whenFinished(ticket, [finished] { finished->set_value(); });
    settled.get();
}

MessageWriter::Counts MessageWriter::counts() {
    std::lock_guard guard(mutex_);
    return counts_;
}

void MessageWriter::run() {
    std::vector<std::unique_ptr<Change>> batch;
    std::vector<TicketWaiter> settled;
    for (;;) {
        bool last = false;
        {
            std::unique_lock guard(mutex_);
            queued_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                // Stopping, and nothing left to commit: whoever still waits for a ticket is done.
                settled.swap(ticketWaiters_);
                last = true;
            } else {
                batch.swap(queue_);
            }
        }
        if (!batch.empty()) {
            commit(batch);
            std::lock_guard guard(mutex_);
            finished_ = batch.back()->ticket;
            auto done = std::partition(ticketWaiters_.begin(), ticketWaiters_.end(),
                                       [&](const TicketWaiter &w) { return w.ticket > finished_; });
            std::move(done, ticketWaiters_.end(), std::back_inserter(settled));
            ticketWaiters_.erase(done, ticketWaiters_.end());
        }
        // Each caller hears once, of its own change, not at every commit; and not while the mutex
        // is held, which a caller may take at once (to send again, or to wait for a ticket).
        for (const auto &change : batch)
            if (change->done)
                Tell([&] { change->done(change->result); });
        for (TicketWaiter &waiter : settled)
            Tell(waiter.settled);
        batch.clear();
        settled.clear();
        if (last)
            return;
    }
}

int64_t &MessageWriter::countOf(const std::string &recipient) {
    // Recipients whose messages were all received stay counted (as 0), so that their next message
    // costs no count in the store: one round trip in three on PostgreSQL. Forgotten, and read
    // again when needed, once many are remembered.
    constexpr size_t kRemembered = 65536;
    auto it = perRecipient_.find(recipient);
    if (it != perRecipient_.end())
        return it->second;
    if (perRecipient_.size() >= kRemembered) {
        std::erase_if(perRecipient_, [](const auto &entry) { return entry.second <= 0; });
        if (perRecipient_.size() >= kRemembered)
            perRecipient_.clear();
    }
    return perRecipient_.emplace(recipient, PrivateMessages::count(*db_, recipient)).first->second;
}

void MessageWriter::apply(Change &change) {
    if (change.isRemoval) {
        int64_t removed = PrivateMessages::remove(*db_, change.recipient, change.ids);
        // A recipient not counted yet is counted at its next message, after this removal.
        if (auto it = perRecipient_.find(change.recipient); it != perRecipient_.end())
            it->second = std::max<int64_t>(0, it->second - removed);
        change.result.status = Status::Kept;
        return;
    }
    int64_t &count = countOf(change.recipient);
    if (count >= limit_) {
        // The count is this writer's own: the nodes of a community share the store, and another
        // node may have removed messages since. The store decides before a message is refused.
        count = PrivateMessages::count(*db_, change.recipient);
        if (count >= limit_) {
            change.result.status = Status::Full;
            return;
        }
    }
    std::optional<PrivateMessages::Added> added =
        PrivateMessages::add(*db_, change.recipient, change.sender, change.text, UnixSeconds());
    if (!added) {
        perRecipient_.erase(change.recipient);
        change.result.status = Status::UnknownRecipient;
        return;
    }
    if (added->heldBefore) {
        // The store's count, which the writers of the other nodes change too.
        count = *added->heldBefore;
        if (count >= limit_) {
            const int64_t ids[] = {added->id};
            PrivateMessages::remove(*db_, change.recipient, ids);
            change.result.status = Status::Full;
            return;
        }
    }
    change.result.id = added->id;
    ++count;
    change.result.status = Status::Kept;
}

void MessageWriter::commit(const std::vector<std::unique_ptr<Change>> &batch) {
    uint64_t kept = 0, removed = 0;
    try {
        Transaction transaction(*db_);
        for (const auto &change : batch)
            apply(*change);
        transaction.commit();
    } catch (const std::exception &e) {
        // Nothing of this batch is kept, and the counts may have counted some of it.
        perRecipient_.clear();
        for (const auto &change : batch) {
            change->result = Result{Status::Failed, 0};
            if (change->isRemoval)
                LogEvent(change->ids.size(), " received message(s) of ", change->recipient,
                         " stay in the store and will be delivered again");
        }
        std::lock_guard guard(mutex_);
        ++counts_.failedCommits;
        if (IsLoggedOccurrence(counts_.failedCommits))
            LogEvent("store cannot commit ", batch.size(), " message change(s) (failure ",
                     counts_.failedCommits, "): ", e.what());
        return;
    }
    for (const auto &change : batch) {
        if (change->isRemoval) {
            removed += change->ids.size();
        } else if (change->result.status == Status::Kept) {
            ++kept;
            if (committed_)
                committed_(change->result.id, change->recipient, change->sender, change->text);
        }
    }
    std::lock_guard guard(mutex_);
    counts_.kept += kept;
    counts_.removed += removed;
    ++counts_.commits;
}
