#include "Network/Client_Demo/ProfileParser.h"

#include <cstdint>

namespace {

constexpr std::string_view LineEnd = "\n\r";  // LF CR, in this order

constexpr std::array<std::string_view, ProfileValueCount - 1> LineKeys = {
    "FirstName: ", "SureName: ", "Country: ", "City: ", "Birth: ", "Homepage: "};
constexpr std::string_view SignatureKey = "Signature: ";

// Positions are 1-based; 0 means "not found". A start below 1 counts as 1.
int64_t FindFrom(std::string_view text, std::string_view what, int64_t start) {
    if (start < 1) {
        start = 1;
    }
    if (static_cast<uint64_t>(start - 1) > text.size()) {
        return 0;
    }
    const size_t at = text.find(what, static_cast<size_t>(start - 1));
    return at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
}

// Up to count bytes from the 1-based position start, cut at the end of the text.
std::string Middle(std::string_view text, int64_t start, int64_t count) {
    if (count <= 0 || start < 1 || static_cast<uint64_t>(start - 1) >= text.size()) {
        return {};
    }
    return std::string(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

}  // namespace

std::array<std::string, ProfileValueCount> ParseProfileText(std::string_view text) {
    std::array<std::string, ProfileValueCount> values;
    int64_t lineEnd = 0;
    for (size_t i = 0; i < LineKeys.size(); ++i) {
        const std::string_view key = LineKeys[i];
        const int64_t keyPos = FindFrom(text, key, lineEnd);
        lineEnd = FindFrom(text, LineEnd, keyPos);
        if (keyPos == 0) {
            continue;  // absent: empty value, and the next key is searched behind the first line
                       // end
        }
        const int64_t valueStart = keyPos + static_cast<int64_t>(key.size());
        values[i] = Middle(text, valueStart, lineEnd - valueStart);
    }
    const int64_t signaturePos = FindFrom(text, SignatureKey, lineEnd);
    if (signaturePos != 0) {
        const int64_t valueStart = signaturePos + static_cast<int64_t>(SignatureKey.size());
        values[SignatureValue] = Middle(text, valueStart, static_cast<int64_t>(text.size()));
    }
    return values;
}
