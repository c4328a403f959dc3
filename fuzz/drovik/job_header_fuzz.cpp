// A JOB frame's body read as the slave reads it: the header first, whose count of values decides
// whether the list is decoded at all. The header must agree with the whole decode: both refuse
// the same bodies, and where the list decodes it holds exactly the counted values. No list may
// count more values than its bytes can carry, since that count is what the slave checks before
// it pays for decoding.
#include <cstdlib>

#include "codec.h"

using namespace drovik;
using namespace drovik::wire;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The fewest bytes a value takes: its type byte and a 32-bit value or length.
constexpr size_t kSmallestValue = 5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const uint8_t> body(data, size);
    const auto header = decodeJobHeader(body);
    const auto whole = decodeJob(body);
    if (!header) {
        check(!whole);
        return 0;
    }
    check(!header->name.empty() && header->name.size() <= kMaxJobNameLength &&
          header->name.find('\0') == std::string::npos);
    // The list is the rest of the body, its count in its first four bytes.
    const std::span<const uint8_t> list = header->params;
    check(list.size() >= 4 && list.data() + list.size() == data + size);
    check(header->valueCount == (uint32_t{list[0]} | uint32_t{list[1]} << 8 |
                                 uint32_t{list[2]} << 16 | uint32_t{list[3]} << 24));

    const auto params = decodeJobParams(list);
    check(params.has_value() == whole.has_value());
    if (!params)
        return 0;
    check(params->count() == header->valueCount);
    check(size_t{header->valueCount} * kSmallestValue <= list.size() - 4);
    check(whole->jobId == header->jobId && whole->replyType == header->replyType &&
          whole->name == header->name && whole->params.count() == params->count());
    return 0;
}
