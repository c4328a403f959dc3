// Handles of the C interface. Every handle is a number from one process-wide sequence, so handles
// are never reused and a handle of one kind never names an object of another kind; a table maps
// the numbers of one kind to their objects. Handles are looked up, never trusted: an unknown
// number finds nothing.
#ifndef DROVIK_SRC_HANDLE_TABLE_H
#define DROVIK_SRC_HANDLE_TABLE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace drovik {

// A fresh nonzero number, never given out before in this process.
intptr_t newHandle();

template <class T>
class HandleTable {
public:
    intptr_t add(std::shared_ptr<T> object) {
        intptr_t h = newHandle();
        std::lock_guard guard(lock_);
        objects_.emplace(h, std::move(object));
        return h;
    }
    void insert(intptr_t h, std::shared_ptr<T> object) {
        std::lock_guard guard(lock_);
        objects_[h] = std::move(object);
    }
    std::shared_ptr<T> find(intptr_t h) const {
        if (h == 0)
            return nullptr;
        std::lock_guard guard(lock_);
        auto it = objects_.find(h);
        return it == objects_.end() ? nullptr : it->second;
    }
    // Removes the handle and returns its object (null when unknown).
    std::shared_ptr<T> take(intptr_t h) {
        if (h == 0)
            return nullptr;
        std::lock_guard guard(lock_);
        auto it = objects_.find(h);
        if (it == objects_.end())
            return nullptr;
        auto object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

private:
    mutable std::mutex lock_;
    std::unordered_map<intptr_t, std::shared_ptr<T>> objects_;
};

// A table that lives for the whole process: never destroyed, so that no static destructor at exit
// tears down objects whose threads may still run.
template <class T>
HandleTable<T> &tableOf() {
    static auto *table = new HandleTable<T>;
    return *table;
}

}  // namespace drovik

#endif  // DROVIK_SRC_HANDLE_TABLE_H
