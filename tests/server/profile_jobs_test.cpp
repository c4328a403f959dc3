// Profile texts and avatars: storing, fetching, and every refusal of an avatar.
#include "ServerFixture.h"
#include "TestPictures.h"

namespace {

class ProfileJobs : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--max-avatar-bytes",  "10240", "--max-avatar-width", "100",
                "--max-avatar-height", "100"};
    }
};

TEST_F(ProfileJobs, ProfileTextIsStoredAndFetched) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    EXPECT_EQ(a->text("User_GetProfile"), "") << "none yet";
    EXPECT_EQ(b->text("User_GetUserProfile", {std::string("ann")}), "");

    const std::string profile =
        "VERSION 1\n\rFirstName: Ann\n\rSureName: \n\rCountry: \xc4gypten\n\rCity: \n\r"
        "Birth: \n\rHomepage: \n\rSignature: two\r\nlines";
    EXPECT_EQ(a->code("User_SetProfile", {profile}), 1);
    EXPECT_EQ(a->text("User_GetProfile"), profile);
    EXPECT_EQ(b->text("User_GetUserProfile", {std::string("ANN")}), profile);
    EXPECT_EQ(b->text("User_GetUserProfile", {std::string("nobody")}), "");
    EXPECT_EQ(b->text("User_GetUserProfile", {std::string("not a name")}), "");
}

TEST_F(ProfileJobs, ProfileOverEightKibibytesIsInvalid) {
    auto a = newUser("ann");
    EXPECT_EQ(a->code("User_SetProfile", {std::string(8193, 'p')}), -DROVIK_EVENT_INVALID);
    EXPECT_EQ(a->text("User_GetProfile"), "");
    EXPECT_EQ(a->code("User_SetProfile", {std::string(8192, 'p')}), 1);
    EXPECT_EQ(a->text("User_GetProfile")->size(), 8192u);
}

TEST_F(ProfileJobs, AvatarChecksSizeThenDecodingThenDimensions) {
    auto a = newUser("ann");
    drovik::Bytes tooManyBytes(10241, 0);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {tooManyBytes}), 2);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {drovik::Bytes{'n', 'o', 't', ' ', 'p', 'i', 'c'}}),
              5);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {drovik::Bytes{}}), 5);
    drovik::Bytes truncated = MakePng(10, 10);
    truncated.resize(truncated.size() / 2);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {truncated}), 5);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {MakePng(101, 100)}), 3);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {MakePng(100, 101)}), 3);
    drovik::Reply none = a->memory("User_GetProfileAvatar");
    EXPECT_EQ(none.event, DROVIK_EVENT_FINISHED);
    EXPECT_TRUE(none.data.empty()) << "nothing was stored by the refusals";

    drovik::Bytes picture = MakePng(100, 100);
    ASSERT_LE(picture.size(), 10240u);
    EXPECT_EQ(a->code("User_SetProfileAvatar", {picture}), 1);
    EXPECT_EQ(a->memory("User_GetProfileAvatar").data, picture);
}

TEST_F(ProfileJobs, AvatarsOfOthersAndBmp) {
    auto a = newUser("ann");
    auto b = newUser("ben");
    drovik::Reply none = b->memory("User_GetUserProfileAvatar", {std::string("ann")});
    EXPECT_EQ(none.event, DROVIK_EVENT_FINISHED);
    EXPECT_TRUE(none.data.empty());

    drovik::Bytes bmp = MakeBmp();
    ASSERT_EQ(a->code("User_SetProfileAvatar", {bmp}), 1);
    EXPECT_EQ(b->memory("User_GetUserProfileAvatar", {std::string("Ann")}).data, bmp);
    EXPECT_TRUE(b->memory("User_GetUserProfileAvatar", {std::string("nobody")}).data.empty());
    EXPECT_TRUE(b->memory("User_GetProfileAvatar").data.empty());
}

}  // namespace
