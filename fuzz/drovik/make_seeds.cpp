// Writes the seed corpus of the wire-format fuzz targets: real frames as a master and a slave send
// them, and real parameter lists. Usage: drovik_fuzz_seeds <fuzz/drovik/corpus>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bytes.h"
#include "codec.h"
#include "drovik.h"

using namespace drovik;
using namespace drovik::wire;

namespace {

void write(const std::filesystem::path &file, uint8_t prefix, const std::vector<uint8_t> &bytes) {
    std::ofstream out(file, std::ios::binary);
    if (prefix != 0xFF)
        out.put(static_cast<char>(prefix));
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> join(std::initializer_list<Frame> frames) {
    std::vector<uint8_t> all;
    for (const Frame &f : frames)
        all.insert(all.end(), f.begin(), f.end());
    return all;
}

ParamList loginList() {
    ParamList l;
    l.addString("alice");
    l.addString("d41d8cd98f00b204e9800998ecf8427e");
    return l;
}

ParamList everyType() {
    ParamList l;
    l.addMemory(std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0, 0xFF});
    l.addLong(-2);
    l.addInteger(1234567890123);
    l.addFloat(0.5f);
    l.addDouble(-3.75);
    l.addQuad(INT64_MIN);
    l.addString("Gr\xFC\xDF\x65");
    l.addString("");
    l.addMemory({});
    return l;
}

std::vector<uint8_t> encoded(const ParamList &l) {
    std::vector<uint8_t> bytes;
    ByteWriter w(bytes);
    l.encode(w);
    return bytes;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    std::filesystem::path root(argv[1]);
    auto frames = root / "frames", params = root / "params", jobHeader = root / "job_header";
    std::filesystem::create_directories(frames);
    std::filesystem::create_directories(params);
    std::filesystem::create_directories(jobHeader);

    std::vector<uint8_t> message = {5,   0,   0,   0,   5,   0,   0,   0,   'a',
                                    'l', 'i', 'c', 'e', 'h', 'e', 'l', 'l', 'o'};
    write(frames / "handshake", 0x80,
          join({encodeHello({kMagic, kVersion, 1000, 5000, "Client"}), encodeWelcome({})}));
    write(frames / "refuse", 0x83, encodeReason(FrameType::Refuse, "the slave is shutting down"));
    write(frames / "login", 0x10, encodeJob(1, DROVIK_TYPE_LONG, "User_Login", loginList()));
    write(frames / "every_type", 0x7F, encodeJob(2, DROVIK_TYPE_MEMORY, "Params", everyType()));
    write(frames / "no_params", 0x00,
          encodeJob(3, DROVIK_TYPE_STRING, "User_GetOnlineUserList", {}));
    write(frames / "stream_then_result", 0x07,
          join({encodeStream(4, message), encodeStream(4, {}),
                encodeResult(4, DROVIK_EVENT_FINISHED, DROVIK_TYPE_LONG,
                             std::vector<uint8_t>{2, 0, 0, 0})}));
    write(frames / "results", 0x20,
          join({encodeResult(5, DROVIK_EVENT_FINISHED, DROVIK_TYPE_STRING,
                             std::vector<uint8_t>{'o', 'k'}),
                encodeResult(6, DROVIK_EVENT_FINISHED, DROVIK_TYPE_DOUBLE,
                             std::vector<uint8_t>(8, 0)),
                encodeResult(7, DROVIK_EVENT_FINISHED, DROVIK_TYPE_MEMORY, {}),
                encodeResult(8, DROVIK_EVENT_DENIED, DROVIK_TYPE_NONE, {}),
                encodeResult(9, DROVIK_EVENT_FAILED, DROVIK_TYPE_NONE, {})}));
    write(frames / "heartbeat", 0x02,
          join({encodePing(FrameType::Ping, 1), encodePing(FrameType::Pong, 1)}));
    write(frames / "kick_shutdown", 0x40,
          join({encodeReason(FrameType::Kick, "kicked by the slave"),
                encodeReason(FrameType::Shutdown, "bye")}));
    write(frames / "oversized", 0x00, {0xFF, 0xFF, 0xFF, 0x7F, 4});

    write(params / "login", 0xFF, encoded(loginList()));
    write(params / "every_type", 0xFF, encoded(everyType()));
    write(params / "empty", 0xFF, encoded({}));
    write(params / "huge_count", 0xFF, {0xFF, 0xFF, 0xFF, 0xFF, 2, 1, 0, 0, 0});

    // JOB bodies, without the frame's length and type.
    auto body = [](const Frame &f) { return std::vector<uint8_t>(f.begin() + 5, f.end()); };
    write(jobHeader / "login", 0xFF,
          body(encodeJob(1, DROVIK_TYPE_LONG, "User_Login", loginList())));
    write(jobHeader / "every_type", 0xFF,
          body(encodeJob(2, DROVIK_TYPE_MEMORY, "Params", everyType())));
    write(jobHeader / "no_params", 0xFF, body(encodeJob(3, DROVIK_TYPE_STRING, "Job", {})));
    write(jobHeader / "longest_name", 0xFF,
          body(encodeJob(4, DROVIK_TYPE_NONE, std::string(kMaxJobNameLength, 'j'), {})));
    std::vector<uint8_t> millions = body(encodeJob(5, DROVIK_TYPE_LONG, "User_Login", {}));
    ByteWriter(millions).patchU32(millions.size() - 4, 3'300'000);  // counted, and one sent
    millions.insert(millions.end(), {5, 0, 0, 0, 0});
    write(jobHeader / "counted_millions", 0xFF, millions);
    std::printf("seeds written to %s\n", root.string().c_str());
    return 0;
}
