// The client layer without the cluster library, and its pieces that need none: the decoder of
// streamed messages and the user-name check.
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/RoundTrip.h"
#include "Network/Client/StreamedMessage.h"
#include "streamed_block.h"

#include <gtest/gtest.h>

#include <vector>

TEST(UnboundLibrary, LoadingFromAMissingPathBindsNothing) {
    EXPECT_EQ(LoadClusterLibrary("Include/Linux/no-such-library.so"), 0);
    EXPECT_FALSE(ClusterLibraryLoadError().empty());
    EXPECT_EQ(MissingClientEntryPoint(), "Drovik_Master_Init");
    EXPECT_EQ(ClusterEntryPointNames().size(), 138u);
    EXPECT_FALSE(IsClusterEntryPointBound("Drovik_Master_DoJob"));
}

TEST(UnboundLibrary, EveryOperationFailsCleanly) {
    ASSERT_EQ(ClientInit(), 0);
    EXPECT_EQ(GetLastErrorText(),
              "The cluster library is not loaded (Drovik_Master_Init is missing)");
    EXPECT_EQ(Connect("127.0.0.1", 7000, "", 0, "", "", 0, 5), 0);
    EXPECT_EQ(GetLastErrorText(), NotInitialisedText);
    const JobReply reply = RequestRoundTrip("User_Logout", {"x", 1}, ReplyType_Long);
    EXPECT_EQ(reply.Event, 0);
    EXPECT_EQ(reply.Long, 0);
    EXPECT_EQ(Disconnect(), 0);
    EXPECT_EQ(DeleteOwnCachedProfile(), 0);
    EXPECT_EQ(GetMasterLastErrorText(1), "");
    EXPECT_EQ(ClientDeInit(), 1);
}

TEST(IsValidName, AcceptsOnlyLettersDigitsAndUnderscore) {
    EXPECT_EQ(IsValidName(""), 1);
    EXPECT_EQ(IsValidName("Abc_019_xyZ"), 1);
    EXPECT_EQ(IsValidName("two words"), 0);
    EXPECT_EQ(IsValidName("hyphen-ated"), 0);
    EXPECT_EQ(IsValidName("J\xfcrgen"), 0);  // a German umlaut in Windows-1252
    EXPECT_EQ(IsValidName("\x80"), 0);
    EXPECT_EQ(IsValidName(std::string("ok\0 -", 5)), 1);  // the text ends at its zero byte
}

TEST(StreamedMessage, DecodesSenderAndText) {
    IncomingMessage m;
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(6, 6, std::string("alice\0hello\0", 12)), m));
    EXPECT_EQ(m.Sender, "alice");
    EXPECT_EQ(m.Text, "hello");

    // Empty parts, and parts without a zero byte that end at the end of their part.
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(0, 0, ""), m));
    EXPECT_EQ(m.Sender, "");
    EXPECT_EQ(m.Text, "");
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(3, 2, "bobhi"), m));
    EXPECT_EQ(m.Sender, "bob");
    EXPECT_EQ(m.Text, "hi");
    ASSERT_TRUE(DecodeStreamedMessage(StreamedBlock(3, 0, "bobTRAILING"), m));
    EXPECT_EQ(m.Text, "");
}

TEST(StreamedMessage, RefusesLengthsOutsideTheBlock) {
    IncomingMessage m{"kept", "kept"};
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
        EXPECT_FALSE(DecodeStreamedMessage(block, m));
        EXPECT_EQ(m.Sender, "kept");
        EXPECT_EQ(m.Text, "kept");
    }
}
