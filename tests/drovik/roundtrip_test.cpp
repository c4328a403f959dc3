// Jobs from a master to an in-process slave over loopback: every reply type, every parameter type,
// and streamed messages.
#include "test_slave.h"

namespace drovik_test {
namespace {

using RoundTrip = LoopbackTest;

TEST_F(RoundTrip, LongReplyIsFourBytesLittleEndian) {
    auto events = run("Long", 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(events[0].type, DROVIK_TYPE_LONG);
    EXPECT_EQ(events[0].size, 4);
    EXPECT_EQ(longOf(events[0]), 42);
    EXPECT_EQ(events[0].master, master_.handle());
    EXPECT_EQ(events[0].slave, connection_);
}

TEST_F(RoundTrip, StringReplyIsZeroTerminatedAndKeepsHighBytes) {
    const std::string text =
        "Gr\xFC\xDF"
        "e \x80\xFF end";
    auto events = run("Echo", listOf({text}), DROVIK_TYPE_STRING);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(events[0].type, DROVIK_TYPE_STRING);
    ASSERT_EQ(events[0].size, static_cast<int32_t>(text.size() + 1));
    EXPECT_EQ(textOf(events[0]), text + '\0');
}

TEST_F(RoundTrip, EmptyStringReplyIsJustTheZero) {
    auto events = run("Echo", listOf({""}), DROVIK_TYPE_STRING);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].hadData);
    EXPECT_EQ(events[0].size, 1);
    EXPECT_EQ(textOf(events[0]), std::string(1, '\0'));
}

TEST_F(RoundTrip, DoubleReply) {
    auto events = run("Double", 0, DROVIK_TYPE_DOUBLE);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, DROVIK_TYPE_DOUBLE);
    ASSERT_EQ(events[0].size, 8);
    double d;
    std::memcpy(&d, events[0].data.data(), 8);
    EXPECT_EQ(d, 2.5);
}

TEST_F(RoundTrip, IntegerFloatAndQuadReplies) {
    for (int32_t type : {DROVIK_TYPE_INTEGER, DROVIK_TYPE_FLOAT, DROVIK_TYPE_QUAD}) {
        intptr_t list = Drovik_Parameter_New();
        Drovik_Parameter_AddLong(list, type);
        auto events = run("Others", list, type);
        ASSERT_EQ(events.size(), 1u);
        ASSERT_EQ(events[0].type, type);
        const Event &e = events[0];
        if (type == DROVIK_TYPE_FLOAT) {
            float f;
            ASSERT_EQ(e.size, 4);
            std::memcpy(&f, e.data.data(), 4);
            EXPECT_EQ(f, 1.5f);
        } else {
            int64_t v;
            ASSERT_EQ(e.size, 8);
            std::memcpy(&v, e.data.data(), 8);
            EXPECT_EQ(v, type == DROVIK_TYPE_INTEGER ? -7 : INT64_C(-1) << 40);
        }
    }
}

TEST_F(RoundTrip, MemoryReplyArrivesIntact) {
    for (int32_t n : {1, 4096, 1 << 20}) {
        intptr_t list = Drovik_Parameter_New();
        Drovik_Parameter_AddLong(list, n);
        auto events = run("Memory", list, DROVIK_TYPE_MEMORY);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].type, DROVIK_TYPE_MEMORY);
        ASSERT_EQ(events[0].size, n);
        for (int32_t i = 0; i < n; ++i)
            ASSERT_EQ(events[0].data[i], static_cast<uint8_t>(i % 251)) << "byte " << i;
    }
}

TEST_F(RoundTrip, EmptyMemoryReplyHasNoBlock) {
    intptr_t list = Drovik_Parameter_New();
    Drovik_Parameter_AddLong(list, 0);
    auto events = run("Memory", list, DROVIK_TYPE_MEMORY);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, DROVIK_EVENT_FINISHED);
    EXPECT_FALSE(events[0].hadData);
    EXPECT_EQ(events[0].size, 0);
    EXPECT_EQ(events[0].type, DROVIK_TYPE_MEMORY);
}

TEST_F(RoundTrip, EveryParameterTypeArrivesIntactAndInOrder) {
    Bytes big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
    const std::string high = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80\xFF";

    intptr_t list = Drovik_Parameter_New();
    void *block = Drovik_AllocateMemory(static_cast<int32_t>(big.size()));
    std::memcpy(block, big.data(), big.size());
    ASSERT_EQ(Drovik_Parameter_AddMem(list, block, static_cast<int32_t>(big.size())), 1);
    Drovik_Parameter_AddLong(list, -123456789);
    Drovik_Parameter_AddInteger(list, static_cast<intptr_t>(-987654321012LL));
    Drovik_Parameter_AddFloat(list, -0.75f);
    Drovik_Parameter_AddDouble(list, 6.02214076e23);
    Drovik_Parameter_AddQuad(list, INT64_MIN + 1);
    Drovik_Parameter_AddString(list, high.c_str());
    Drovik_Parameter_AddString(list, "");
    Drovik_Parameter_AddMem(list, Drovik_AllocateMemory(0), 0);

    Bytes expected;
    int32_t bigSize = static_cast<int32_t>(big.size()), zero = 0;
    appendBytes(expected, &bigSize, 4);
    appendBytes(expected, big.data(), big.size());
    auto number = [&](int32_t l, intptr_t in, float f, double d, int64_t q) {
        appendBytes(expected, &l, 4);
        appendBytes(expected, &in, sizeof in);
        appendBytes(expected, &f, 4);
        appendBytes(expected, &d, 8);
        appendBytes(expected, &q, 8);
    };
    number(-123456789, 0, 0, 0, 0);
    number(0, static_cast<intptr_t>(-987654321012LL), 0, 0, 0);
    number(0, 0, -0.75f, 0, 0);
    number(0, 0, 0, 6.02214076e23, 0);
    number(0, 0, 0, 0, INT64_MIN + 1);
    appendBytes(expected, high.c_str(), high.size() + 1);
    appendBytes(expected, "", 1);
    appendBytes(expected, &zero, 4);

    auto events = run("Params", list, DROVIK_TYPE_MEMORY);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].event, DROVIK_EVENT_FINISHED);
    ASSERT_EQ(events[0].data.size(), expected.size());
    EXPECT_TRUE(events[0].data == expected);
}

TEST_F(RoundTrip, StreamedMessagesArriveInOrderBeforeTheFinalEvent) {
    const int32_t n = 50;
    intptr_t list = Drovik_Parameter_New();
    Drovik_Parameter_AddLong(list, n);
    auto events = run("Stream", list, DROVIK_TYPE_NONE);
    ASSERT_EQ(events.size(), static_cast<size_t>(n + 1));
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].event, DROVIK_EVENT_STREAM);
        EXPECT_EQ(events[i].type, DROVIK_TYPE_MEMORY);
        EXPECT_TRUE(events[i].data ==
                    chatMessage(i % 2 ? "" : "sender", "message " + std::to_string(i)));
    }
    EXPECT_EQ(events[n].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(longOf(events[n]), n);
}

TEST_F(RoundTrip, JobIdsAreNonzeroAndDistinct) {
    intptr_t a = submit(master_.handle(), connection_, "Long", 0);
    intptr_t b = submit(master_.handle(), connection_, "Long", 0);
    EXPECT_NE(a, 0);
    EXPECT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_TRUE(Recorder::instance().waitFinal(a));
    EXPECT_TRUE(Recorder::instance().waitFinal(b));
}

}  // namespace
}  // namespace drovik_test
