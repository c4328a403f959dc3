// The wire format between a master and a slave, and the reassembly of frames from a byte stream.
// Nothing here knows about sockets, so tests and fuzz targets call it directly.
//
// Every integer is little-endian. The stream is a sequence of frames:
//
//   u32 length | u8 type | body (length - 1 bytes)
//
// length counts the type byte and the body: 1 <= length <= kMaxFrameLength (kMaxHandshakeLength
// until the handshake is done). A larger or zero length ends the connection. Inside bodies:
//   text16 = u16 byte count, then the bytes (no terminator)
//   blob32 = u32 byte count, then the bytes
//
//   type  name      direction        body
//   1     HELLO     master -> slave  u32 magic "DRVK" | u16 version | u32 heartbeat interval ms |
//                                    u32 heartbeat timeout ms | text16 client name
//   2     WELCOME   slave -> master  u32 magic | u16 version
//   3     REFUSE    slave -> master  text16 reason; the slave closes afterwards
//   4     JOB       master -> slave  u64 job id | i32 expected reply type | text16 job name |
//                                    parameter list
//   5     STREAM    slave -> master  u64 job id | the message bytes (the rest of the frame)
//   6     RESULT    slave -> master  u64 job id | i32 event | i32 value type | the value bytes
//                                    (the rest of the frame; empty for every event but FINISHED)
//   7     KICK      slave -> master  text16 reason; the slave closes afterwards
//   8     SHUTDOWN  slave -> master  text16 reason; the slave closes afterwards
//   9     PING      either way       u64 token
//   10    PONG      either way       u64 token of the PING answered
//
// The first frame of a master is HELLO; the slave answers WELCOME or REFUSE. A master pings every
// heartbeat interval and treats a connection on which nothing arrived for the heartbeat timeout as
// lost; the slave treats a master silent for twice that timeout as gone.
//
// Parameter list: u32 count | count values, each an i8 type (DROVIK_TYPE_*) and its payload:
//   long i32 | integer i64 | float f32 | double f64 | quad i64 | string blob32 | memory blob32
// A string carries no zero byte; the receiver terminates it.
//
// A RESULT value must fit its type: long and float 4 bytes, integer, double and quad 8 bytes,
// string and memory any size. Every body must be consumed exactly.
#ifndef DROVIK_SRC_CODEC_H
#define DROVIK_SRC_CODEC_H

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params.h"

namespace drovik::wire {

inline constexpr uint32_t kMagic = 0x4B565244;  // the bytes "DRVK"
inline constexpr uint16_t kVersion = 1;
inline constexpr uint32_t kMaxFrameLength = 16 * 1024 * 1024;
inline constexpr uint32_t kMaxHandshakeLength = 4096;
inline constexpr size_t kMaxJobNameLength = 255;
inline constexpr size_t kMaxTextLength = 1024;  // reasons and client names
// The largest value or streamed message that fits a frame with its header fields.
inline constexpr size_t kMaxValueSize = kMaxFrameLength - 64;

enum class FrameType : uint8_t {
    Hello = 1,
    Welcome = 2,
    Refuse = 3,
    Job = 4,
    Stream = 5,
    Result = 6,
    Kick = 7,
    Shutdown = 8,
    Ping = 9,
    Pong = 10,
};

using Frame = std::vector<uint8_t>;  // one encoded frame, length prefix included

struct FrameView {
    FrameType type;
    std::span<const uint8_t> body;
};

struct Hello {
    uint32_t magic = kMagic;
    uint16_t version = kVersion;
    uint32_t heartbeatIntervalMs = 0;
    uint32_t heartbeatTimeoutMs = 0;
    std::string clientName;
};
struct Welcome {
    uint32_t magic = kMagic;
    uint16_t version = kVersion;
};
struct JobRequest {
    uint64_t jobId = 0;
    int32_t replyType = 0;
    std::string name;
    ParamList params;
};
// A JOB frame up to its parameter list, whose values are left undecoded: the receiver checks the
// job's name and the count of values before it pays for decoding them.
struct JobHeader {
    uint64_t jobId = 0;
    int32_t replyType = 0;
    std::string name;
    uint32_t valueCount = 0;
    std::span<const uint8_t> params;  // the encoded list, count included; points into the frame
};
struct StreamMessage {
    uint64_t jobId = 0;
    std::span<const uint8_t> data;  // points into the decoded frame
};
struct Result {
    uint64_t jobId = 0;
    int32_t event = 0;
    int32_t type = 0;
    std::span<const uint8_t> value;  // points into the decoded frame
};

Frame encodeHello(const Hello &h);
Frame encodeWelcome(const Welcome &w);
// REFUSE, KICK and SHUTDOWN carry a reason, cut to kMaxTextLength.
Frame encodeReason(FrameType type, std::string_view reason);
// The job frame; the caller has checked the name's length and the frame's size (jobFrameSize).
Frame encodeJob(uint64_t jobId, int32_t replyType, std::string_view name, const ParamList &params);
size_t jobFrameSize(std::string_view name, const ParamList &params);
Frame encodeStream(uint64_t jobId, std::span<const uint8_t> data);
Frame encodeResult(uint64_t jobId, int32_t event, int32_t type, std::span<const uint8_t> value);
Frame encodePing(FrameType type, uint64_t token);

// Each decoder takes a frame body and gives nullopt when it is malformed.
std::optional<Hello> decodeHello(std::span<const uint8_t> body);
std::optional<Welcome> decodeWelcome(std::span<const uint8_t> body);
std::optional<std::string> decodeReason(std::span<const uint8_t> body);
std::optional<JobRequest> decodeJob(std::span<const uint8_t> body);
std::optional<JobHeader> decodeJobHeader(std::span<const uint8_t> body);
// The list of a JobHeader; nullopt when malformed.
std::optional<ParamList> decodeJobParams(std::span<const uint8_t> params);
std::optional<StreamMessage> decodeStream(std::span<const uint8_t> body);
std::optional<Result> decodeResult(std::span<const uint8_t> body);
std::optional<uint64_t> decodePing(std::span<const uint8_t> body);

// True when value bytes of that size may carry a value of that type.
bool validValue(int32_t type, size_t size);
// A short name of a frame type for log texts ("JOB"), or "unknown".
const char *frameTypeName(FrameType type);

// Collects bytes read from a stream and cuts them into frames. Read into prepare(), report the
// count with commit(), then call next() until it says Incomplete. A frame's body stays valid until
// the next prepare().
class FrameAssembler {
public:
    enum class Status { Incomplete, Frame, Error };

    explicit FrameAssembler(uint32_t maxLength) : maxLength_(maxLength) {}

    void setMaxLength(uint32_t maxLength) { maxLength_ = maxLength; }
    // Room for at least one more read, large enough for a frame whose header has arrived.
    std::span<uint8_t> prepare();
    void commit(size_t n);
    // On Error, why tells the reason; the stream cannot be used any further.
    Status next(FrameView &frame, std::string &why);
    // Bytes received but not yet returned as frames.
    size_t buffered() const { return end_ - begin_; }

private:
    void reserveFrom(size_t needed);
    // The length field of the frame at the front; at least 4 bytes must be buffered.
    uint32_t peekLength() const;

    std::unique_ptr<uint8_t[]> buf_;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint32_t maxLength_;
};

}  // namespace drovik::wire

#endif  // DROVIK_SRC_CODEC_H
