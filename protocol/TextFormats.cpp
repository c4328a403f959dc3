#include "protocol/TextFormats.h"

#include <cstdint>

void AppendOnlineListName(std::string &list, std::string_view name) {
    list += name;
    list += LineEnd;
}

std::vector<std::string> SplitOnlineList(std::string_view text) {
    std::string normalized;
    normalized.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        normalized.push_back(text[i]);
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r')
            ++i;  // LF CR becomes LF
    }
    std::vector<std::string> names;
    size_t fieldStart = 0;
    for (size_t lf = normalized.find('\n'); lf != std::string::npos;
         lf = normalized.find('\n', fieldStart)) {
        names.push_back(normalized.substr(fieldStart, lf - fieldStart));
        fieldStart = lf + 1;
    }
    return names;  // what follows the last LF is not a complete entry
}

std::string BuildProfileText(const ProfileFields &values) {
    std::string text = "VERSION 1";
    text += LineEnd;
    for (size_t i = 0; i + 1 < ProfileFieldCount; ++i) {
        text += ProfileKeys[i];
        text += values[i];
        text += LineEnd;
    }
    text += ProfileKeys.back();
    text += values.back();
    return text;
}

namespace {

// Positions are 1-based; 0 means "not found". A start below 1 counts as 1.
int64_t FindFrom(std::string_view text, std::string_view what, int64_t start) {
    if (start < 1)
        start = 1;
    if (static_cast<uint64_t>(start - 1) > text.size())
        return 0;
    const size_t at = text.find(what, static_cast<size_t>(start - 1));
    return at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
}

// Up to count bytes from the 1-based position start, cut at the end of the text.
std::string Middle(std::string_view text, int64_t start, int64_t count) {
    if (count <= 0 || start < 1 || static_cast<uint64_t>(start - 1) >= text.size())
        return {};
    return std::string(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

}  // namespace

ProfileFields ParseProfileText(std::string_view text) {
    ProfileFields values;
    int64_t lineEnd = 0;
    for (size_t i = 0; i + 1 < ProfileFieldCount; ++i) {
        const std::string_view key = ProfileKeys[i];
        const int64_t keyPos = FindFrom(text, key, lineEnd);
        lineEnd = FindFrom(text, LineEnd, keyPos);
        if (keyPos == 0)
            continue;  // absent: empty value; the next key is searched behind the first line end
        const int64_t valueStart = keyPos + static_cast<int64_t>(key.size());
        values[i] = Middle(text, valueStart, lineEnd - valueStart);
    }
    const std::string_view signatureKey = ProfileKeys.back();
    const int64_t signaturePos = FindFrom(text, signatureKey, lineEnd);
    if (signaturePos != 0) {
        const int64_t valueStart = signaturePos + static_cast<int64_t>(signatureKey.size());
        values.back() = Middle(text, valueStart, static_cast<int64_t>(text.size()));
    }
    return values;
}
