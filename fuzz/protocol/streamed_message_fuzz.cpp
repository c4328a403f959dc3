// Fuzz target: the decoder of streamed messages, which reads bytes straight from the network.
// Whatever the bytes, it either refuses them or yields two texts that lie inside their parts.
#include "protocol/StreamedMessage.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string sender = "unchanged";
    std::string text = "unchanged";
    const bool decoded = DecodeStreamedMessage(std::span<const uint8_t>(data, size), sender, text);
    if (!decoded) {
        if (text != "unchanged" || sender != "unchanged")
            std::abort();  // a refusal must leave the record as it was
        return 0;
    }
    int32_t senderLength = 0;
    int32_t textLength = 0;
    std::memcpy(&senderLength, data, 4);
    std::memcpy(&textLength, data + 4, 4);
    const bool fits = sender.size() <= size_t(senderLength) && text.size() <= size_t(textLength) &&
                      sender.find('\0') == std::string::npos &&
                      text.find('\0') == std::string::npos;
    if (!fits)
        std::abort();
    return 0;
}
