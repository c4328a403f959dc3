// The layouts both ends share: what the server's encoder writes, the client's decoder reads back,
// and the decoders refuse or bound what no encoder writes.
#include "protocol/PreferencesBlock.h"
#include "protocol/StreamedMessage.h"
#include "protocol/TextFormats.h"
#include "tests/client/streamed_block.h"

#include <gtest/gtest.h>

TEST(StreamedMessage, WhatTheServerEncodesTheClientDecodes) {
    for (const auto &[sender, text] : std::vector<std::pair<std::string, std::string>>{
             {"alice", "hello"}, {"", ""}, {"bob", std::string(4096, 'x')}, {"c", "\x80\xfc"}}) {
        const std::vector<uint8_t> block = EncodeStreamedMessage(sender, text);
        EXPECT_EQ(block.size(), StreamedMessageSize(sender.size(), text.size()));
        std::string decodedSender, decodedText;
        ASSERT_TRUE(DecodeStreamedMessage(block, decodedSender, decodedText));
        EXPECT_EQ(decodedSender, sender);
        EXPECT_EQ(decodedText, text);
    }
}

TEST(StreamedMessage, DecodesSenderAndText) {
    std::string sender, text;
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(6, 6, std::string("alice\0hello\0", 12)),
                                      sender, text));
    EXPECT_EQ(sender, "alice");
    EXPECT_EQ(text, "hello");

    // Empty parts, and parts without a zero byte that end at the end of their part.
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(0, 0, ""), sender, text));
    EXPECT_EQ(sender, "");
    EXPECT_EQ(text, "");
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(3, 2, "bobhi"), sender, text));
    EXPECT_EQ(sender, "bob");
    EXPECT_EQ(text, "hi");
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(3, 0, "bobTRAILING"), sender, text));
    EXPECT_EQ(text, "");
}

TEST(StreamedMessage, RefusesLengthsOutsideTheBlock) {
    std::string sender = "kept", text = "kept";
    const std::vector<std::vector<uint8_t>> refused = {
        {},                                        // no header
        {1, 0, 0, 0, 1, 0, 0},                     // a short header
        StreamedBlock(-1, 2, "ab"),                // negative sender length
        StreamedBlock(2, -5, "ab"),                // negative text length
        StreamedBlock(3, 3, "abcde"),              // one byte short
        StreamedBlock(INT32_MAX, INT32_MAX, "x"),  // would overflow 32-bit arithmetic
        StreamedBlock(INT32_MIN, 0, ""),
    };
    for (const auto &block : refused) {
        EXPECT_FALSE(DecodeStreamedMessage(block, sender, text));
        EXPECT_EQ(sender, "kept");
        EXPECT_EQ(text, "kept");
    }
}

TEST(PreferencesBlockFormat, RoundTripsAndAShortBlockReplacesOnlyItsBytes) {
    const PreferencesValues sent = {1, 10240, 100, 100, 3600, -7};
    const PreferencesBlock block = EncodePreferencesBlock(sent);
    EXPECT_EQ(block[4], 0x00);  // 10240 = 0x2800, little-endian
    EXPECT_EQ(block[5], 0x28);
    PreferencesValues read{};
    EXPECT_EQ(DecodePreferencesBlock(block, read), block.size());
    EXPECT_EQ(read, sent);

    PreferencesValues partial = {0x11111111, 0x22222222, 0x33333333, 0, 0, 0};
    const uint8_t bytes[] = {1, 0, 0, 0, 0xAA, 0xBB};  // a whole field and half of the next
    EXPECT_EQ(DecodePreferencesBlock(bytes, partial), 6u);
    EXPECT_EQ(partial[0], 1);
    EXPECT_EQ(partial[1], 0x2222BBAA);
    EXPECT_EQ(partial[2], 0x33333333);
}

TEST(OnlineListFormat, TheNamesTheServerListsAreTheNamesTheClientReads) {
    std::string list;
    for (const char *name : {"alice", "bob", "c_3"})
        AppendOnlineListName(list, name);
    EXPECT_EQ(list, "alice\n\rbob\n\rc_3\n\r");
    EXPECT_EQ(SplitOnlineList(list), (std::vector<std::string>{"alice", "bob", "c_3"}));
    EXPECT_TRUE(SplitOnlineList("").empty());
    EXPECT_EQ(SplitOnlineList("alice\n\rbob"), std::vector<std::string>{"alice"});
}

TEST(ProfileTextFormat, BuiltTextParsesBackToItsValues) {
    const ProfileFields values = {
        "Anna", "Muster", "DE", "K\xf6ln", "1.2.1990", "http://x", "line one\n\rline two"};
    const std::string text = BuildProfileText(values);
    EXPECT_TRUE(text.starts_with("VERSION 1\n\rFirstName: Anna\n\rSureName: Muster\n\r"));
    EXPECT_EQ(ParseProfileText(text), values);

    ProfileFields empty;
    EXPECT_EQ(ParseProfileText(BuildProfileText(empty)), empty);
    EXPECT_EQ(ParseProfileText(""), empty);
}
