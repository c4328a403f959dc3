#include "codec.h"

#include <algorithm>
#include <cstring>

#include "bytes.h"
#include "drovik.h"

namespace drovik::wire {
namespace {

// Starts a frame: a length placeholder and the type byte. finish() fills in the length.
ByteWriter begin(Frame &f, FrameType type, size_t bodyHint) {
    f.reserve(5 + bodyHint);
    ByteWriter w(f);
    w.u32(0);
    w.u8(static_cast<uint8_t>(type));
    return w;
}

Frame finish(Frame &f) {
    ByteWriter(f).patchU32(0, static_cast<uint32_t>(f.size() - 4));
    return std::move(f);
}

std::string_view cut(std::string_view s, size_t max) {
    return s.substr(0, std::min(s.size(), max));
}

// Every connection holds its read buffer for as long as it lives, so it starts small: thousands
// of connections times a large buffer would be most of a server's memory. A frame whose header has
// arrived gets room for the whole of it.
constexpr size_t kMinReadRoom = 4 * 1024;
// A buffer that grew for a large frame is given back once it is empty again.
constexpr size_t kShrinkAbove = 16 * 1024;

}  // namespace

Frame encodeHello(const Hello &h) {
    Frame f;
    ByteWriter w = begin(f, FrameType::Hello, 16 + h.clientName.size());
    w.u32(h.magic);
    w.u16(h.version);
    w.u32(h.heartbeatIntervalMs);
    w.u32(h.heartbeatTimeoutMs);
    w.text16(cut(h.clientName, kMaxTextLength));
    return finish(f);
}

Frame encodeWelcome(const Welcome &wel) {
    Frame f;
    ByteWriter w = begin(f, FrameType::Welcome, 6);
    w.u32(wel.magic);
    w.u16(wel.version);
    return finish(f);
}

Frame encodeReason(FrameType type, std::string_view reason) {
    Frame f;
    ByteWriter w = begin(f, type, 2 + reason.size());
    w.text16(cut(reason, kMaxTextLength));
    return finish(f);
}

size_t jobFrameSize(std::string_view name, const ParamList &params) {
    return 4 + 1 + 8 + 4 + 2 + name.size() + params.encodedSize();
}

Frame encodeJob(uint64_t jobId, int32_t replyType, std::string_view name, const ParamList &params) {
    Frame f;
    ByteWriter w = begin(f, FrameType::Job, jobFrameSize(name, params));
    w.u64(jobId);
    w.i32(replyType);
    w.text16(cut(name, kMaxJobNameLength));
    params.encode(w);
    return finish(f);
}

Frame encodeStream(uint64_t jobId, std::span<const uint8_t> data) {
    Frame f;
    ByteWriter w = begin(f, FrameType::Stream, 8 + data.size());
    w.u64(jobId);
    w.bytes(data);
    return finish(f);
}

Frame encodeResult(uint64_t jobId, int32_t event, int32_t type, std::span<const uint8_t> value) {
    Frame f;
    ByteWriter w = begin(f, FrameType::Result, 16 + value.size());
    w.u64(jobId);
    w.i32(event);
    w.i32(type);
    w.bytes(value);
    return finish(f);
}

Frame encodePing(FrameType type, uint64_t token) {
    Frame f;
    ByteWriter w = begin(f, type, 8);
    w.u64(token);
    return finish(f);
}

std::optional<Hello> decodeHello(std::span<const uint8_t> body) {
    ByteReader r(body);
    Hello h;
    h.magic = r.u32();
    h.version = r.u16();
    h.heartbeatIntervalMs = r.u32();
    h.heartbeatTimeoutMs = r.u32();
    h.clientName = r.text16();
    if (!r.atEnd() || h.clientName.size() > kMaxTextLength)
        return std::nullopt;
    return h;
}

std::optional<Welcome> decodeWelcome(std::span<const uint8_t> body) {
    ByteReader r(body);
    Welcome w;
    w.magic = r.u32();
    w.version = r.u16();
    if (!r.atEnd())
        return std::nullopt;
    return w;
}

std::optional<std::string> decodeReason(std::span<const uint8_t> body) {
    ByteReader r(body);
    std::string reason = r.text16();
    if (!r.atEnd() || reason.size() > kMaxTextLength)
        return std::nullopt;
    return reason;
}

std::optional<JobHeader> decodeJobHeader(std::span<const uint8_t> body) {
    ByteReader r(body);
    JobHeader job;
    job.jobId = r.u64();
    job.replyType = r.i32();
    job.name = r.text16();
    if (!r.ok() || job.name.empty() || job.name.size() > kMaxJobNameLength ||
        job.name.find('\0') != std::string::npos)
        return std::nullopt;
    job.params = r.rest();
    ByteReader count(job.params);
    job.valueCount = count.u32();
    if (!count.ok())
        return std::nullopt;
    return job;
}

std::optional<ParamList> decodeJobParams(std::span<const uint8_t> params) {
    ByteReader r(params);
    auto list = ParamList::decode(r);
    if (!list || !r.atEnd())
        return std::nullopt;
    return list;
}

std::optional<JobRequest> decodeJob(std::span<const uint8_t> body) {
    auto header = decodeJobHeader(body);
    if (!header)
        return std::nullopt;
    auto params = decodeJobParams(header->params);
    if (!params)
        return std::nullopt;
    return JobRequest{header->jobId, header->replyType, std::move(header->name),
                      std::move(*params)};
}

std::optional<StreamMessage> decodeStream(std::span<const uint8_t> body) {
    ByteReader r(body);
    StreamMessage m;
    m.jobId = r.u64();
    m.data = r.rest();
    if (!r.ok())
        return std::nullopt;
    return m;
}

bool validValue(int32_t type, size_t size) {
    switch (type) {
        case DROVIK_TYPE_LONG:
        case DROVIK_TYPE_FLOAT:
            return size == 4;
        case DROVIK_TYPE_INTEGER:
        case DROVIK_TYPE_DOUBLE:
        case DROVIK_TYPE_QUAD:
            return size == 8;
        case DROVIK_TYPE_STRING:
        case DROVIK_TYPE_MEMORY:
            return size <= kMaxValueSize;
        default:
            return false;
    }
}

std::optional<Result> decodeResult(std::span<const uint8_t> body) {
    ByteReader r(body);
    Result res;
    res.jobId = r.u64();
    res.event = r.i32();
    res.type = r.i32();
    res.value = r.rest();
    if (!r.ok())
        return std::nullopt;
    switch (res.event) {
        case DROVIK_EVENT_FINISHED:
            if (!validValue(res.type, res.value.size()))
                return std::nullopt;
            break;
        case DROVIK_EVENT_LIMIT:
        case DROVIK_EVENT_UNKNOWN:
        case DROVIK_EVENT_DENIED:
        case DROVIK_EVENT_INVALID:
        case DROVIK_EVENT_FAILED:
            if (!res.value.empty())
                return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    return res;
}

std::optional<uint64_t> decodePing(std::span<const uint8_t> body) {
    ByteReader r(body);
    uint64_t token = r.u64();
    if (!r.atEnd())
        return std::nullopt;
    return token;
}

const char *frameTypeName(FrameType type) {
    switch (type) {
        case FrameType::Hello:
            return "HELLO";
        case FrameType::Welcome:
            return "WELCOME";
        case FrameType::Refuse:
            return "REFUSE";
        case FrameType::Job:
            return "JOB";
        case FrameType::Stream:
            return "STREAM";
        case FrameType::Result:
            return "RESULT";
        case FrameType::Kick:
            return "KICK";
        case FrameType::Shutdown:
            return "SHUTDOWN";
        case FrameType::Ping:
            return "PING";
        case FrameType::Pong:
            return "PONG";
    }
    return "unknown";
}

uint32_t FrameAssembler::peekLength() const {
    const uint8_t *p = buf_.get() + begin_;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void FrameAssembler::reserveFrom(size_t needed) {
    // Move the unread bytes to the front, then grow if they and the room needed still do not fit.
    size_t used = end_ - begin_;
    if (begin_ > 0 && used > 0)
        std::memmove(buf_.get(), buf_.get() + begin_, used);
    begin_ = 0;
    end_ = used;
    if (needed > capacity_) {
        std::unique_ptr<uint8_t[]> bigger(new uint8_t[needed]);  // no need to zero it
        if (used > 0)
            std::memcpy(bigger.get(), buf_.get(), used);
        buf_ = std::move(bigger);
        capacity_ = needed;
    }
}

std::span<uint8_t> FrameAssembler::prepare() {
    size_t used = end_ - begin_;
    if (used == 0) {
        begin_ = end_ = 0;
        if (capacity_ > kShrinkAbove) {
            buf_.reset();
            capacity_ = 0;
        }
    }
    size_t needed = used + kMinReadRoom;
    if (used >= 4) {
        // The header is here: make room for the whole frame so it can arrive in one piece. Its
        // length was checked against the limit by next() before it got here.
        needed = std::max(needed, size_t{4} + std::min(peekLength(), maxLength_));
    }
    if (capacity_ - begin_ < needed)
        reserveFrom(std::max(needed, capacity_));
    return std::span(buf_.get() + end_, capacity_ - end_);
}

void FrameAssembler::commit(size_t n) {
    end_ = std::min(end_ + n, capacity_);
}

FrameAssembler::Status FrameAssembler::next(FrameView &frame, std::string &why) {
    size_t used = end_ - begin_;
    if (used < 4)
        return Status::Incomplete;
    const uint8_t *p = buf_.get() + begin_;
    uint32_t length = peekLength();
    if (length == 0) {
        why = "empty frame";
        return Status::Error;
    }
    if (length > maxLength_) {
        why = "frame of " + std::to_string(length) + " bytes exceeds the limit of " +
              std::to_string(maxLength_) + " bytes";
        return Status::Error;
    }
    if (used - 4 < length)
        return Status::Incomplete;
    uint8_t type = p[4];
    if (type < static_cast<uint8_t>(FrameType::Hello) ||
        type > static_cast<uint8_t>(FrameType::Pong)) {
        why = "unknown frame type " + std::to_string(type);
        return Status::Error;
    }
    frame.type = static_cast<FrameType>(type);
    frame.body = std::span<const uint8_t>(p + 5, length - 1);
    begin_ += 4 + size_t{length};
    return Status::Frame;
}

}  // namespace drovik::wire
