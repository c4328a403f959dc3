// A parameter list as the C interface shares it: the list with a lock of its own, so that calls
// on one list from several threads stay memory-safe.
#ifndef DROVIK_SRC_SHARED_LIST_H
#define DROVIK_SRC_SHARED_LIST_H

#include <memory>
#include <mutex>

#include "handle_table.h"
#include "params.h"

namespace drovik {

struct SharedList {
    std::mutex lock;
    ParamList list;
};

inline HandleTable<SharedList> &lists() {
    return tableOf<SharedList>();
}

}  // namespace drovik

#endif  // DROVIK_SRC_SHARED_LIST_H
