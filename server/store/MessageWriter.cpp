#include "store/MessageWriter.h"

#include "Log.h"
#include "store/Store.h"

struct MessageWriter::Change {
    bool isRemoval = false;
    std::string recipient, sender, text;
    std::vector<int64_t> ids;
    Result result;
    bool done = false;
};

MessageWriter::MessageWriter(const std::filesystem::path &file, int64_t perRecipientLimit,
                             Committed committed)
    : db_(file),
      table_(db_),
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

MessageWriter::Result MessageWriter::submit(Change &change) {
    std::unique_lock guard(mutex_);
    if (stopping_)
        return Result{Status::Failed, 0};
    queue_.push_back(&change);
    if (queue_.size() == 1)
        queued_.notify_one();
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

bool MessageWriter::remove(std::string recipient, std::vector<int64_t> ids) {
    Change change;
    change.isRemoval = true;
    change.recipient = std::move(recipient);
    change.ids = std::move(ids);
    return submit(change).status == Status::Kept;
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
            if (queue_.empty())
                return;  // stopping, and nothing left to commit
            batch.swap(queue_);
        }
        commit(batch);
        {
            std::lock_guard guard(mutex_);
            for (Change *change : batch)
                change->done = true;
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
        for (Change *change : batch)
            change->result = Result{Status::Failed, 0};
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
