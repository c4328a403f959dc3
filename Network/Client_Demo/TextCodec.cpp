#include "Network/Client_Demo/TextCodec.h"

#include <array>
#include <cstdint>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. Undefined positions hold their own value.
constexpr std::array<char16_t, 32> HighControlBlock = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80-0x87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88-0x8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90-0x97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98-0x9F
};

char16_t ByteToUnicode(uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return HighControlBlock[byte - 0x80];
    }
    return byte;
}

// Returns the byte, or -1 when the code page has no such character.
int UnicodeToByte(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
        return ch;
    }
    for (size_t i = 0; i < HighControlBlock.size(); ++i) {
        if (HighControlBlock[i] == ch) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

}  // namespace

std::string ToWire(const QString &text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;  // one character outside the basic plane: one replacement byte for the pair
            bytes.push_back('?');
            continue;
        }
        const int byte = UnicodeToByte(ch.unicode());
        bytes.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    }
    return bytes;
}

QString FromWire(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char byte : bytes) {
        text.append(QChar(ByteToUnicode(static_cast<uint8_t>(byte))));
    }
    return text;
}

std::string ToLocalPath(const QString &path) {
    // UTF-8 on every platform: the request layer makes the file system's own path of it (the
    // wide-character one on Windows), so no name is squeezed through a local 8-bit code page.
    return path.toStdString();
}

QString FromLocalPath(const std::string &path) {
    return QString::fromStdString(path);
}
