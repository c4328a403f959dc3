// A job's parameter list: ordered, typed values, and its wire encoding.
//
// Texts and memory values keep their bytes in their own heap block, so a pointer handed out by
// stringAt/memoryAt stays valid while the list lives, even when more values are appended.
#ifndef DROVIK_SRC_PARAMS_H
#define DROVIK_SRC_PARAMS_H

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace drovik {

class ByteReader;
class ByteWriter;

class ParamList {
public:
    struct Value {
        int32_t type = 0;     // DROVIK_TYPE_*
        int64_t integer = 0;  // long, integer and quad values
        double real = 0;      // a double value
        float single = 0;     // a float value, kept as it is so that every bit pattern survives
        std::vector<uint8_t> bytes;  // memory as given; a text with its terminating zero
    };

    void addLong(int32_t v);
    void addInteger(int64_t v);
    void addFloat(float v);
    void addDouble(double v);
    void addQuad(int64_t v);
    // Stored up to its first zero byte, with a terminating zero of its own.
    void addString(std::string_view text);
    void addMemory(std::span<const uint8_t> bytes);

    size_t count() const { return values_.size(); }
    // The value at index if it exists and has that type, else null.
    const Value *at(size_t index, int32_t type) const;
    // Types of the values as signature letters (m l i f d q s), e.g. "ssl".
    std::string signature() const;
    // True when the values' types are exactly those of the signature.
    bool matches(std::string_view signature) const;

    // Bytes that encode() appends.
    size_t encodedSize() const;
    void encode(ByteWriter &out) const;
    // Reads one encoded list; nullopt when the bytes are not a well-formed list.
    static std::optional<ParamList> decode(ByteReader &in);

private:
    std::vector<Value> values_;
};

// The value type of a signature letter, or nullopt for a letter that names none.
std::optional<int32_t> typeOfSignatureLetter(char letter);
// True when every letter of the signature names a type.
bool validSignature(std::string_view signature);

}  // namespace drovik

#endif  // DROVIK_SRC_PARAMS_H
