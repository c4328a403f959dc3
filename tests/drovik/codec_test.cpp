// The wire format without sockets: frames and parameter lists encode and decode, and malformed
// bytes are refused without reading outside the input.
#include <gtest/gtest.h>

#include "bytes.h"
#include "codec.h"
#include "drovik.h"
#include "params.h"

namespace drovik {
namespace {

using wire::FrameAssembler;
using wire::FrameType;
using wire::FrameView;

// Feeds bytes into an assembler in chunks of the given size and collects the frames.
struct Collected {
    std::vector<std::pair<FrameType, std::vector<uint8_t>>> frames;
    bool error = false;
    std::string why;
};

Collected feed(const std::vector<uint8_t> &bytes, size_t chunk,
               uint32_t maxLength = wire::kMaxFrameLength) {
    FrameAssembler a(maxLength);
    Collected out;
    size_t pos = 0;
    while (pos < bytes.size() && !out.error) {
        auto room = a.prepare();
        size_t n = std::min({chunk, room.size(), bytes.size() - pos});
        std::memcpy(room.data(), bytes.data() + pos, n);
        a.commit(n);
        pos += n;
        FrameView f{};
        for (;;) {
            auto status = a.next(f, out.why);
            if (status == FrameAssembler::Status::Incomplete)
                break;
            if (status == FrameAssembler::Status::Error) {
                out.error = true;
                break;
            }
            out.frames.emplace_back(f.type, std::vector<uint8_t>(f.body.begin(), f.body.end()));
        }
    }
    return out;
}

ParamList sampleList() {
    ParamList l;
    l.addLong(-1);
    l.addInteger(INT64_MIN);
    l.addFloat(0.25f);
    l.addDouble(-1e300);
    l.addQuad(42);
    l.addString("\xE4\xF6\xFC");
    l.addString("");
    l.addMemory(std::vector<uint8_t>{0, 1, 2, 0});
    l.addMemory({});
    return l;
}

TEST(Codec, FramesSurviveAnySplitOfTheStream) {
    std::vector<uint8_t> stream;
    auto append = [&](const wire::Frame &f) { stream.insert(stream.end(), f.begin(), f.end()); };
    append(wire::encodeHello({wire::kMagic, wire::kVersion, 100, 1000, "client"}));
    append(wire::encodeJob(7, DROVIK_TYPE_STRING, "User_Login", sampleList()));
    append(wire::encodeStream(7, std::vector<uint8_t>(300, 9)));
    append(wire::encodeResult(7, DROVIK_EVENT_FINISHED, DROVIK_TYPE_LONG,
                              std::vector<uint8_t>{1, 0, 0, 0}));
    append(wire::encodePing(FrameType::Ping, 99));

    for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}, stream.size()}) {
        SCOPED_TRACE(chunk);
        Collected c = feed(stream, chunk);
        ASSERT_FALSE(c.error) << c.why;
        ASSERT_EQ(c.frames.size(), 5u);

        auto hello = wire::decodeHello(c.frames[0].second);
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->clientName, "client");
        EXPECT_EQ(hello->heartbeatTimeoutMs, 1000u);

        auto job = wire::decodeJob(c.frames[1].second);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->jobId, 7u);
        EXPECT_EQ(job->name, "User_Login");
        EXPECT_EQ(job->params.signature(), "lifdqssmm");
        EXPECT_STREQ(
            reinterpret_cast<const char *>(job->params.at(5, DROVIK_TYPE_STRING)->bytes.data()),
            "\xE4\xF6\xFC");
        EXPECT_EQ(job->params.at(7, DROVIK_TYPE_MEMORY)->bytes, (std::vector<uint8_t>{0, 1, 2, 0}));
        EXPECT_EQ(job->params.at(3, DROVIK_TYPE_DOUBLE)->real, -1e300);
        EXPECT_EQ(job->params.at(1, DROVIK_TYPE_INTEGER)->integer, INT64_MIN);

        auto stream = wire::decodeStream(c.frames[2].second);
        ASSERT_TRUE(stream);
        EXPECT_EQ(stream->data.size(), 300u);

        auto result = wire::decodeResult(c.frames[3].second);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->type, DROVIK_TYPE_LONG);
        EXPECT_EQ(wire::decodePing(c.frames[4].second), 99u);
    }
}

TEST(Codec, BadFrameHeadersAreErrors) {
    EXPECT_TRUE(feed({0, 0, 0, 0}, 4).error);              // empty frame
    EXPECT_TRUE(feed({1, 0, 0, 0, 0}, 5).error);           // type 0
    EXPECT_TRUE(feed({1, 0, 0, 0, 11}, 5).error);          // type beyond the last
    EXPECT_TRUE(feed({0xFF, 0xFF, 0xFF, 0xFF}, 4).error);  // 4 GiB announced
    EXPECT_TRUE(feed({0x01, 0x10, 0, 0, 1}, 5, wire::kMaxHandshakeLength).error);
    EXPECT_FALSE(feed({0x01, 0x10, 0, 0, 1}, 5).error);  // fine after the handshake
    Collected partial = feed({5, 0, 0, 0, 9, 1}, 1);
    EXPECT_FALSE(partial.error);
    EXPECT_TRUE(partial.frames.empty());
}

TEST(Codec, ResultValuesMustFitTheirType) {
    auto decode = [](int32_t event, int32_t type, size_t size) {
        auto f = wire::encodeResult(1, event, type, std::vector<uint8_t>(size, 0));
        return wire::decodeResult(std::span(f).subspan(5)).has_value();
    };
    EXPECT_TRUE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_LONG, 4));
    EXPECT_FALSE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_LONG, 3));
    EXPECT_FALSE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_DOUBLE, 4));
    EXPECT_TRUE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_MEMORY, 0));
    EXPECT_TRUE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_STRING, 0));
    EXPECT_FALSE(decode(DROVIK_EVENT_FINISHED, DROVIK_TYPE_NONE, 0));
    EXPECT_FALSE(decode(DROVIK_EVENT_FINISHED, 99, 0));
    EXPECT_TRUE(decode(DROVIK_EVENT_DENIED, DROVIK_TYPE_NONE, 0));
    EXPECT_FALSE(decode(DROVIK_EVENT_DENIED, DROVIK_TYPE_NONE, 1));  // error events carry nothing
    EXPECT_FALSE(decode(DROVIK_EVENT_STREAM, DROVIK_TYPE_NONE, 0));
    EXPECT_FALSE(decode(DROVIK_EVENT_KICKED, DROVIK_TYPE_NONE, 0));
}

TEST(Codec, MalformedBodiesAreRefused) {
    auto body = [](const wire::Frame &f) { return std::vector<uint8_t>(f.begin() + 5, f.end()); };
    auto job = body(wire::encodeJob(1, 2, "Job", sampleList()));
    EXPECT_TRUE(wire::decodeJob(job));
    for (size_t cut = 0; cut < job.size(); ++cut)
        ASSERT_FALSE(wire::decodeJob(std::span(job).first(cut))) << "cut at " << cut;
    auto longer = job;
    longer.push_back(0);
    EXPECT_FALSE(wire::decodeJob(longer));

    auto hello = body(wire::encodeHello({}));
    hello.push_back(0);
    EXPECT_FALSE(wire::decodeHello(hello));
    EXPECT_FALSE(wire::decodeWelcome({}));
    EXPECT_FALSE(wire::decodeReason(std::vector<uint8_t>{5, 0, 'a'}));
    EXPECT_FALSE(wire::decodePing(std::vector<uint8_t>(7, 0)));
    EXPECT_FALSE(wire::decodeStream(std::vector<uint8_t>(7, 0)));
    EXPECT_EQ(wire::decodeReason(body(wire::encodeReason(FrameType::Kick, "bye"))), "bye");
}

TEST(Codec, ParameterListLimitsAreCheckedBeforeUse) {
    auto decode = [](const std::vector<uint8_t> &bytes) {
        ByteReader r(bytes);
        return ParamList::decode(r).has_value();
    };
    std::vector<uint8_t> encoded;
    ByteWriter w(encoded);
    sampleList().encode(w);
    EXPECT_EQ(encoded.size(), sampleList().encodedSize());
    EXPECT_TRUE(decode(encoded));

    // A count of four billion values in a few bytes: refused before anything is reserved.
    EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0xFF, 2, 1, 0, 0, 0}));
    // A block longer than what follows.
    EXPECT_FALSE(decode({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}));
    // A text with a zero byte inside, and an unknown type.
    EXPECT_FALSE(decode({1, 0, 0, 0, 5, 2, 0, 0, 0, 'a', 0}));
    EXPECT_FALSE(decode({1, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(decode({0, 0, 0, 0}));
}

TEST(Codec, SignaturesMatchTypesAndCount) {
    ParamList l;
    l.addString("a");
    l.addLong(1);
    EXPECT_TRUE(l.matches("sl"));
    EXPECT_FALSE(l.matches("ls"));
    EXPECT_FALSE(l.matches("s"));
    EXPECT_FALSE(l.matches("slm"));
    EXPECT_TRUE(ParamList().matches(""));
    EXPECT_TRUE(validSignature("mlifdqs"));
    EXPECT_FALSE(validSignature("x"));
}

TEST(Codec, TextsStopAtTheirFirstZero) {
    ParamList l;
    l.addString(std::string_view("ab\0cd", 5));
    EXPECT_EQ(l.at(0, DROVIK_TYPE_STRING)->bytes, (std::vector<uint8_t>{'a', 'b', 0}));
}

}  // namespace
}  // namespace drovik

namespace drovik {
namespace {

TEST(Codec, FloatBitPatternsSurviveTheWire) {
    const uint32_t signalingNan = 0xFFBFFFFF;
    float f;
    std::memcpy(&f, &signalingNan, 4);
    ParamList l;
    l.addFloat(f);
    std::vector<uint8_t> bytes;
    ByteWriter w(bytes);
    l.encode(w);
    ByteReader r(bytes);
    auto back = ParamList::decode(r);
    ASSERT_TRUE(back);
    uint32_t bits;
    float single = back->at(0, DROVIK_TYPE_FLOAT)->single;
    std::memcpy(&bits, &single, 4);
    EXPECT_EQ(bits, signalingNan);
}

}  // namespace
}  // namespace drovik
