#include "errors.h"

#include <array>

namespace drovik {

const char *errorText(Error e) {
    switch (e) {
#define DROVIK_ERROR_TEXT(name, text) \
    case Error::name:                 \
        return text;
        DROVIK_ERRORS(DROVIK_ERROR_TEXT)
#undef DROVIK_ERROR_TEXT
    }
    return "Unknown failure";
}

const char *keepForThread(TextSlot slot, std::string text) {
    thread_local std::array<std::string, static_cast<size_t>(TextSlot::Count)> slots;
    std::string &s = slots[static_cast<size_t>(slot)];
    s = std::move(text);
    return s.c_str();
}

void emitLog(Drovik_LogCallback log, intptr_t owner, intptr_t peer, int32_t level,
             const std::string &text, int32_t kind) {
    if (log == nullptr)
        return;
    try {
        log(owner, peer, level, text.c_str(), kind, 0);
    } catch (...) {
        // A log callback must not take the library down with it.
    }
}

}  // namespace drovik
