#include "handle_table.h"

#include <atomic>

namespace drovik {

intptr_t newHandle() {
    static std::atomic<intptr_t> next{1};
    intptr_t h = next.fetch_add(1, std::memory_order_relaxed);
    if (h == 0)  // after a wrap where intptr_t is 32 bits wide
        h = next.fetch_add(1, std::memory_order_relaxed);
    return h;
}

}  // namespace drovik
