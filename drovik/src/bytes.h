// Little-endian byte writing and bounds-checked reading for the wire format.
//
// ByteReader never reads outside its span: every read checks the remaining length first, and the
// first failed read makes the reader fail for good (ok() turns false, later reads return zeros), so
// a decoder can read a whole layout and test ok() once at the end.
#ifndef DROVIK_SRC_BYTES_H
#define DROVIK_SRC_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace drovik {

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t> &out) : out_(out) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v) { put(v, 2); }
    void u32(uint32_t v) { put(v, 4); }
    void u64(uint64_t v) { put(v, 8); }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void i64(int64_t v) { u64(static_cast<uint64_t>(v)); }
    void f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void f64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        u64(bits);
    }
    void bytes(std::span<const uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void bytes(std::string_view s) {
        bytes(std::span(reinterpret_cast<const uint8_t *>(s.data()), s.size()));
    }
    // A text of at most 65535 bytes behind its 16-bit length; the caller bounds the length.
    void text16(std::string_view s) {
        u16(static_cast<uint16_t>(s.size()));
        bytes(s);
    }
    // A block behind its 32-bit length.
    void blob32(std::span<const uint8_t> b) {
        u32(static_cast<uint32_t>(b.size()));
        bytes(b);
    }

    size_t size() const { return out_.size(); }
    // Overwrites 4 bytes at offset (used to fill in a length written first as a placeholder).
    void patchU32(size_t offset, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    void put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t> &out_;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

    bool ok() const { return ok_; }
    size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool atEnd() const { return ok_ && pos_ == data_.size(); }
    void fail() { ok_ = false; }

    uint8_t u8() { return static_cast<uint8_t>(get(1)); }
    uint16_t u16() { return static_cast<uint16_t>(get(2)); }
    uint32_t u32() { return static_cast<uint32_t>(get(4)); }
    uint64_t u64() { return get(8); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    int64_t i64() { return static_cast<int64_t>(u64()); }
    float f32() {
        uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    double f64() {
        uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    // n bytes, or an empty span (and failure) when fewer remain.
    std::span<const uint8_t> bytes(size_t n) {
        if (!take(n))
            return {};
        return data_.subspan(pos_ - n, n);
    }
    std::span<const uint8_t> rest() { return bytes(remaining()); }
    std::string text16() {
        auto b = bytes(u16());
        return std::string(b.begin(), b.end());
    }
    std::span<const uint8_t> blob32() { return bytes(u32()); }

private:
    bool take(size_t n) {
        if (!ok_ || n > data_.size() - pos_) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    uint64_t get(int n) {
        if (!take(static_cast<size_t>(n)))
            return 0;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<uint64_t>(data_[pos_ - n + i]) << (8 * i);
        return v;
    }

    std::span<const uint8_t> data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace drovik

#endif  // DROVIK_SRC_BYTES_H
