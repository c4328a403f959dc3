// The job table, the reply codes and the password digest.
#include "protocol/Jobs.h"
#include "protocol/PasswordDigest.h"
#include "protocol/ReplyCodes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(JobTable, NamesAreUniqueAndSignaturesUseOnlyTheWireTypes) {
    std::set<std::string_view> names;
    for (const JobSpec &job : AllJobs) {
        EXPECT_TRUE(names.insert(job.Name).second) << job.Name;
        EXPECT_TRUE(job.Name.starts_with("User_") || job.Name.starts_with("Control_")) << job.Name;
        EXPECT_EQ(job.Parameters.find_first_not_of("slm"), std::string_view::npos) << job.Name;
    }
    EXPECT_EQ(names.size(), 21u);
    EXPECT_EQ(Job::Control_BannUser.Name, "Control_BannUser");
    EXPECT_EQ(Job::Control_BannUser.Parameters, "sll");  // user, option, ban flag
}

TEST(ReplyCodes, EveryGroupNamesEachCodeOnce) {
    for (const ReplyCodeEntry &a : AllReplyCodes)
        for (const ReplyCodeEntry &b : AllReplyCodes)
            if (&a != &b && a.Group == b.Group) {
                EXPECT_NE(a.Code, b.Code) << a.Name << " and " << b.Name;
                EXPECT_NE(a.Name, b.Name);
            }
    EXPECT_EQ(LoginCode::WrongPassword, 3);
    EXPECT_EQ(RegisterCode::PasswordTooShort, 3);
    EXPECT_EQ(ReplyCodeMeaning(ReplyGroup::Control, ControlCode::KickingOneself),
              "an administrator cannot kick their own account");
    EXPECT_EQ(ReplyCodeMeaning(ReplyGroup::Login, 99), "unknown code");
    EXPECT_EQ(RefusalCodeCount(ReplyGroup::Login), 5);
}

TEST(PasswordDigestTest, IsLowercaseHexMd5) {
    EXPECT_EQ(PasswordDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(PasswordDigest("12345678"), "25d55ad283aa400af464c76d713c07ad");
    EXPECT_EQ(PasswordDigest("password"), "5f4dcc3b5aa765d61d8327deb882cf99");
    // 8-bit text: the bytes, not a re-encoding; and the text ends at its first zero byte, on both
    // ends, so a password the server was given with one cannot differ from what a client sends.
    EXPECT_EQ(PasswordDigest("J\xfcrgen").size(), 32u);
    EXPECT_NE(PasswordDigest("J\xfcrgen"), PasswordDigest("Jurgen"));
    EXPECT_EQ(PasswordDigest(std::string("password\0tail", 13)), PasswordDigest("password"));
    EXPECT_EQ(PasswordDigest(std::string("\0tail", 5)), PasswordDigest(""));
}
