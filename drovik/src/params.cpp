#include "params.h"

#include <cstring>
#include <string>

#include "bytes.h"
#include "drovik.h"

namespace drovik {
namespace {

struct TypeInfo {
    int32_t type;
    char letter;
    size_t fixedSize;  // payload bytes on the wire; 0 for a length-prefixed block
};

constexpr TypeInfo kTypes[] = {
    {DROVIK_TYPE_MEMORY, 'm', 0}, {DROVIK_TYPE_LONG, 'l', 4},   {DROVIK_TYPE_INTEGER, 'i', 8},
    {DROVIK_TYPE_FLOAT, 'f', 4},  {DROVIK_TYPE_DOUBLE, 'd', 8}, {DROVIK_TYPE_QUAD, 'q', 8},
    {DROVIK_TYPE_STRING, 's', 0},
};

const TypeInfo *infoOf(int32_t type) {
    for (const TypeInfo &t : kTypes)
        if (t.type == type)
            return &t;
    return nullptr;
}

// The smallest encoding of one value: its type byte and a 32-bit length or a 4-byte number.
constexpr size_t kMinEncodedValue = 1 + 4;

}  // namespace

std::optional<int32_t> typeOfSignatureLetter(char letter) {
    for (const TypeInfo &t : kTypes)
        if (t.letter == letter)
            return t.type;
    return std::nullopt;
}

bool validSignature(std::string_view signature) {
    for (char c : signature)
        if (!typeOfSignatureLetter(c))
            return false;
    return true;
}

namespace {
ParamList::Value valueOf(int32_t type) {
    ParamList::Value v;
    v.type = type;
    return v;
}
}  // namespace

void ParamList::addLong(int32_t v) {
    values_.push_back(valueOf(DROVIK_TYPE_LONG));
    values_.back().integer = v;
}

void ParamList::addInteger(int64_t v) {
    values_.push_back(valueOf(DROVIK_TYPE_INTEGER));
    values_.back().integer = v;
}

void ParamList::addFloat(float v) {
    values_.push_back(valueOf(DROVIK_TYPE_FLOAT));
    values_.back().single = v;
}

void ParamList::addDouble(double v) {
    values_.push_back(valueOf(DROVIK_TYPE_DOUBLE));
    values_.back().real = v;
}

void ParamList::addQuad(int64_t v) {
    values_.push_back(valueOf(DROVIK_TYPE_QUAD));
    values_.back().integer = v;
}

void ParamList::addString(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    Value v = valueOf(DROVIK_TYPE_STRING);
    v.bytes.reserve(text.size() + 1);
    v.bytes.assign(text.begin(), text.end());
    v.bytes.push_back(0);
    values_.push_back(std::move(v));
}

void ParamList::addMemory(std::span<const uint8_t> bytes) {
    values_.push_back(valueOf(DROVIK_TYPE_MEMORY));
    values_.back().bytes.assign(bytes.begin(), bytes.end());
}

const ParamList::Value *ParamList::at(size_t index, int32_t type) const {
    if (index >= values_.size() || values_[index].type != type)
        return nullptr;
    return &values_[index];
}

std::string ParamList::signature() const {
    std::string s;
    for (const Value &v : values_)
        s.push_back(infoOf(v.type)->letter);
    return s;
}

bool ParamList::matches(std::string_view signature) const {
    if (signature.size() != values_.size())
        return false;
    for (size_t i = 0; i < values_.size(); ++i)
        if (typeOfSignatureLetter(signature[i]) != values_[i].type)
            return false;
    return true;
}

size_t ParamList::encodedSize() const {
    size_t n = 4;
    for (const Value &v : values_) {
        const TypeInfo *t = infoOf(v.type);
        if (t->fixedSize != 0)
            n += 1 + t->fixedSize;
        else  // a text travels without its terminating zero
            n += 1 + 4 + v.bytes.size() - (v.type == DROVIK_TYPE_STRING ? 1 : 0);
    }
    return n;
}

void ParamList::encode(ByteWriter &out) const {
    out.u32(static_cast<uint32_t>(values_.size()));
    for (const Value &v : values_) {
        out.u8(static_cast<uint8_t>(static_cast<int8_t>(v.type)));
        switch (v.type) {
            case DROVIK_TYPE_LONG:
                out.i32(static_cast<int32_t>(v.integer));
                break;
            case DROVIK_TYPE_INTEGER:
            case DROVIK_TYPE_QUAD:
                out.i64(v.integer);
                break;
            case DROVIK_TYPE_FLOAT:
                out.f32(v.single);
                break;
            case DROVIK_TYPE_DOUBLE:
                out.f64(v.real);
                break;
            case DROVIK_TYPE_STRING:
                // The text goes without its terminating zero; the receiver adds its own.
                out.blob32(std::span(v.bytes.data(), v.bytes.size() - 1));
                break;
            default:
                out.blob32(v.bytes);
                break;
        }
    }
}

std::optional<ParamList> ParamList::decode(ByteReader &in) {
    uint32_t count = in.u32();
    // Every value takes at least kMinEncodedValue bytes, so a count the remaining bytes cannot hold
    // is rejected before anything is reserved for it.
    if (!in.ok() || count > in.remaining() / kMinEncodedValue)
        return std::nullopt;
    ParamList list;
    list.values_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        int32_t type = static_cast<int8_t>(in.u8());
        switch (type) {
            case DROVIK_TYPE_LONG:
                list.addLong(in.i32());
                break;
            case DROVIK_TYPE_INTEGER:
                list.addInteger(in.i64());
                break;
            case DROVIK_TYPE_QUAD:
                list.addQuad(in.i64());
                break;
            case DROVIK_TYPE_FLOAT:
                list.addFloat(in.f32());
                break;
            case DROVIK_TYPE_DOUBLE:
                list.addDouble(in.f64());
                break;
            case DROVIK_TYPE_MEMORY:
                list.addMemory(in.blob32());
                break;
            case DROVIK_TYPE_STRING: {
                auto text = in.blob32();
                // A text holds no zero byte: it could not have been added as one.
                if (!text.empty() && std::memchr(text.data(), 0, text.size()) != nullptr)
                    return std::nullopt;
                list.addString(
                    std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
                break;
            }
            default:
                return std::nullopt;
        }
        if (!in.ok())
            return std::nullopt;
    }
    return list;
}

}  // namespace drovik
