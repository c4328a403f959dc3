#include "store/MessageWriter.h"

#include "Log.h"
#include "store/Store.h"

struct MessageWriter::Change {
    bool isRemoval = false;
    bool detached = false;  // nobody waits for it: the writer deletes it when done
    uint64_t ticket = 0;
    std::string recipient, sender, text;
    std::vector<int64_t> ids;
    Result result;
    bool done = false;
};

MessageWriter::MessageWriter(const std::filesystem::path &file, int64_t perRecipientLimit,
                             Committed committed)
    : db_(file),
      // Checkpoints are the other thread's.
      table_((db_.exec("PRAGMA wal_autocheckpoint=0"), db_)),
      limit_(perRecipientLimit),
      committed_(std::move(committed)),
      checkpointDb_(file),
      thread_([this] { run(); }),
      checkpointThread_([this] { checkpoints(); }) {}

MessageWriter::~MessageWriter() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    queued_.notify_one();
    checkpointDue_.notify_one();
    thread_.join();
    checkpointThread_.join();
    LogEvent("private messages: ", counts_.kept, " kept and ", counts_.removed, " removed in ",
             counts_.commits, " commits (", counts_.failedCommits, " failed)");
}

uint64_t MessageWriter::enqueue(Change *change) {
    // With the mutex held.
    change->ticket = ++tickets_;
    queue_.push_back(change);
    if (queue_.size() == 1)
        queued_.notify_one();
    return change->ticket;
}

MessageWriter::Result MessageWriter::submit(Change &change) {
    std::unique_lock guard(mutex_);
    if (stopping_)
        return Result{Status::Failed, 0};
    enqueue(&change);
    done_.wait(guard, [&] { return change.done; });
    return change.result;
}

MessageWriter::Result MessageWriter::add(std::string recipient, std::string sender,
                                         std::string text) {
    Change change;
    change.recipient = std::move(recipient);
    change.sender = std::move(sender);
    change.text = std::move(text);
    return submit(change);
}

uint64_t MessageWriter::remove(std::string recipient, std::vector<int64_t> ids) {
    auto change = std::make_unique<Change>();
    change->isRemoval = true;
    change->detached = true;
    change->recipient = std::move(recipient);
    change->ids = std::move(ids);
    std::lock_guard guard(mutex_);
    if (stopping_)
        return 0;
    return enqueue(change.release());
}

void MessageWriter::waitFor(uint64_t ticket) {
    std::unique_lock guard(mutex_);
    done_.wait(guard, [&] { return finished_ >= ticket || (stopping_ && queue_.empty()); });
}

MessageWriter::Counts MessageWriter::counts() {
    std::lock_guard guard(mutex_);
    return counts_;
}

void MessageWriter::run() {
    std::vector<Change *> batch;
    for (;;) {
        {
            std::unique_lock guard(mutex_);
            queued_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                done_.notify_all();
                return;  // stopping, and nothing left to commit
            }
            batch.swap(queue_);
        }
        commit(batch);
        {
            std::lock_guard guard(mutex_);
            for (Change *change : batch) {
                finished_ = change->ticket;
                if (change->detached)
                    delete change;
                else
                    change->done = true;
            }
        }
        done_.notify_all();
        batch.clear();
    }
}

int64_t &MessageWriter::countOf(const std::string &recipient) {
    auto it = perRecipient_.find(recipient);
    if (it == perRecipient_.end())
        it = perRecipient_.emplace(recipient, table_.count(recipient)).first;
    return it->second;
}

void MessageWriter::apply(Change &change) {
    if (change.isRemoval) {
        int64_t removed = table_.remove(change.recipient, change.ids);
        int64_t &count = countOf(change.recipient);
        count -= removed;
        if (count <= 0)
            perRecipient_.erase(change.recipient);
        change.result.status = Status::Kept;
        return;
    }
    int64_t &count = countOf(change.recipient);
    if (count >= limit_) {
        change.result.status = Status::Full;
        return;
    }
    try {
        change.result.id = table_.add(change.recipient, change.sender, change.text, UnixSeconds());
    } catch (const StoreError &e) {
        // The failed statement undid itself; the rest of the commit goes on.
        if (e.code() != SQLITE_CONSTRAINT_FOREIGNKEY)
            throw;
        perRecipient_.erase(change.recipient);
        change.result.status = Status::UnknownRecipient;
        return;
    }
    ++count;
    change.result.status = Status::Kept;
}

void MessageWriter::commit(std::vector<Change *> &batch) {
    uint64_t kept = 0, removed = 0;
    try {
        auto guard = db_.lock();
        db_.exec("BEGIN IMMEDIATE");
        try {
            for (Change *change : batch)
                apply(*change);
            db_.exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const std::exception &e) {
        // Nothing of this batch is kept, and the counts may have counted some of it.
        perRecipient_.clear();
        for (Change *change : batch) {
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
    for (Change *change : batch) {
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

// A passive checkpoint copies what it can without holding up the writer; the log is started over
// by the next commit once all of it has been copied.
void MessageWriter::checkpoints() {
    constexpr auto kInterval = std::chrono::milliseconds(200);
    std::unique_lock guard(mutex_);
    while (!stopping_) {
        checkpointDue_.wait_for(guard, kInterval, [&] { return stopping_; });
        if (stopping_ || counts_.commits == checkpointedAt_)
            continue;
        checkpointedAt_ = counts_.commits;
        guard.unlock();
        int rc = sqlite3_wal_checkpoint_v2(checkpointDb_.handle(), nullptr,
                                           SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        if (rc != SQLITE_OK && rc != SQLITE_BUSY)
            LogEvent(StoreErrorText(checkpointDb_.handle(), rc, "checkpoint"));
        guard.lock();
    }
}
