// The client layer without the cluster library, and its pieces that need none, such as the
// user-name check.
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/RoundTrip.h"

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
