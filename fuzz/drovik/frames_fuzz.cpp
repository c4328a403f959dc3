// Bytes as they arrive from a peer: cut into frames in chunks of varying size, and every frame
// decoded as its type says. Nothing may read outside the input, and what decodes must encode back
// to the same bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "drovik.h"

using namespace drovik;
using namespace drovik::wire;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::span<const uint8_t> bodyOf(const Frame &f) {
    return std::span(f).subspan(5);
}

void decodeFrame(const FrameView &f) {
    switch (f.type) {
        case FrameType::Hello:
            if (auto h = decodeHello(f.body))
                check(bodyOf(encodeHello(*h)).size() == f.body.size());
            break;
        case FrameType::Welcome:
            decodeWelcome(f.body);
            break;
        case FrameType::Refuse:
        case FrameType::Kick:
        case FrameType::Shutdown:
            if (auto r = decodeReason(f.body)) {
                auto again = encodeReason(f.type, *r);
                check(std::equal(f.body.begin(), f.body.end(), bodyOf(again).begin(),
                                 bodyOf(again).end()));
            }
            break;
        case FrameType::Job:
            if (auto j = decodeJob(f.body)) {
                check(j->params.matches(j->params.signature()));
                auto again = encodeJob(j->jobId, j->replyType, j->name, j->params);
                check(again.size() == jobFrameSize(j->name, j->params));
                check(std::equal(f.body.begin(), f.body.end(), bodyOf(again).begin(),
                                 bodyOf(again).end()));
            }
            break;
        case FrameType::Stream:
            decodeStream(f.body);
            break;
        case FrameType::Result:
            if (auto r = decodeResult(f.body)) {
                auto again = encodeResult(r->jobId, r->event, r->type, r->value);
                check(std::equal(f.body.begin(), f.body.end(), bodyOf(again).begin(),
                                 bodyOf(again).end()));
            }
            break;
        case FrameType::Ping:
        case FrameType::Pong:
            decodePing(f.body);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte chooses how the stream is cut and which size limit applies.
    size_t chunk = (data[0] & 0x7F) + 1;
    FrameAssembler assembler(data[0] & 0x80 ? kMaxHandshakeLength : kMaxFrameLength);
    std::span<const uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        auto room = assembler.prepare();
        size_t n = std::min({chunk, room.size(), rest.size()});
        std::memcpy(room.data(), rest.data(), n);
        assembler.commit(n);
        rest = rest.subspan(n);
        FrameView frame{};
        std::string why;
        for (;;) {
            auto status = assembler.next(frame, why);
            if (status == FrameAssembler::Status::Error)
                return 0;  // the connection would close here
            if (status == FrameAssembler::Status::Incomplete)
                break;
            decodeFrame(frame);
        }
    }
    return 0;
}
