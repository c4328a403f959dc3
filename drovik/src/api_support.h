// Shared by the exported entry points: every one runs its body through guarded(), so that no C++
// exception ever crosses the C interface.
#ifndef DROVIK_SRC_API_SUPPORT_H
#define DROVIK_SRC_API_SUPPORT_H

#include <string_view>

namespace drovik {

template <class R, class F>
R guarded(R onFailure, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

template <class F>
void guardedVoid(F &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// A C text as a view; null counts as empty.
inline std::string_view textOf(const char *s) {
    return s ? std::string_view(s) : std::string_view();
}

}  // namespace drovik

#endif  // DROVIK_SRC_API_SUPPORT_H
