// Profiles and avatars against a scripted server: the profile text byte for byte, the local cache
// rules, and the checks of an avatar file, made on real files written here.
#include "Network/Client/AvatarFile.h"
#include "request_fixture.h"
#include "tests/picture/PictureEncoders.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <random>

namespace {
const std::string EmptyProfile =
    "VERSION 1\n\rFirstName: \n\rSureName: \n\rCountry: \n\rCity: \n\rBirth: \n\rHomepage: "
    "\n\rSignature: ";

std::vector<uint8_t> Png(int width, int height) {
    return picture_test::EncodePng(picture_test::Gradient(width, height));
}

class ProfileRequests : public RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        folder = std::filesystem::temp_directory_path() /
                 ("client-avatar-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        RequestTest::TearDown();
    }
    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) {
        const auto path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }
    void SetLimits(int32_t size, int32_t width, int32_t height) {
        ClientState.Preferences.MaxAvatarSize = size;
        ClientState.Preferences.MaxAvatarWidth = width;
        ClientState.Preferences.MaxAvatarHeight = height;
    }
    std::filesystem::path folder;
};
}  // namespace

TEST_F(ProfileRequests, ProfileTextIsBuiltByteForByte) {
    AnswerWith("User_SetProfile", 1);
    EXPECT_EQ(User_SetProfile("", "", "", "", "", "", ""), 1);
    EXPECT_EQ(User_SetProfile("Anna", "M\xfcller", "DE", "Bonn", "1.2.1990", "http://a.example",
                              "line one\r\nline two"),
              1);
    const auto received = Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Values, (ReceivedValues{"s:" + EmptyProfile}));
    EXPECT_EQ(received[1].Values,
              (ReceivedValues{"s:VERSION 1\n\rFirstName: Anna\n\rSureName: M\xfcller\n\rCountry: "
                              "DE\n\rCity: Bonn\n\rBirth: 1.2.1990\n\rHomepage: "
                              "http://a.example\n\rSignature: line one\r\nline two"}));
}

TEST_F(ProfileRequests, OwnProfileIsCachedUntilTheNextStore) {
    ClientState.Preferences.ProfileCacheSetting = 0;  // no expiry
    AnswerWith("User_GetProfile", std::string("VERSION 1\n\rFirstName: Anna"));
    EXPECT_EQ(User_GetProfile(), "VERSION 1\n\rFirstName: Anna");
    AnswerWith("User_GetProfile", std::string("changed"));
    EXPECT_EQ(User_GetProfile(), "VERSION 1\n\rFirstName: Anna") << "served from the cache";
    EXPECT_EQ(SubmittedNames(), std::vector<std::string>{"User_GetProfile"});

    // A store drops the own entries, whatever the server answers.
    AnswerWith("User_SetProfile", 3);
    EXPECT_EQ(User_SetProfile("", "", "", "", "", "", ""), 3);
    EXPECT_EQ(User_GetProfile(), "changed");
    EXPECT_EQ(User_GetProfile(), "changed");
    EXPECT_EQ(SubmittedNames(),
              (std::vector<std::string>{"User_GetProfile", "User_SetProfile", "User_GetProfile"}));
}

TEST_F(ProfileRequests, UserProfilesAreCachedByNameTheEmptyOneIncluded) {
    EXPECT_EQ(User_GetUserProfile("bob"), "");  // the scripted server has no profile
    EXPECT_EQ(User_GetUserProfile("bob"), "");
    AnswerWith("User_GetUserProfile", std::string("VERSION 1"));
    EXPECT_EQ(User_GetUserProfile("Bob"), "VERSION 1") << "another name, another entry";
    EXPECT_EQ(User_GetUserProfile("bob"), "");
    EXPECT_EQ(Received().size(), 2u);
    EXPECT_EQ(Received()[0].Values, (ReceivedValues{"s:bob"}));

    DeleteCachedProfile("bob");
    EXPECT_EQ(User_GetUserProfile("bob"), "VERSION 1");
    // Deleting by a user name leaves the own entries alone.
    EXPECT_EQ(User_GetProfile(), "");
    DeleteCachedProfile("alice");
    EXPECT_EQ(User_GetProfile(), "");
    EXPECT_EQ(Received().size(), 4u);
}

TEST_F(ProfileRequests, AvatarsAreCachedOnlyWhenTheyArrive) {
    SetLimits(10000, 100, 100);  // avatars are decoded within the limits of a login
    ClientState.Preferences.AvatarCacheSetting = 0;
    EXPECT_EQ(User_GetUserProfileAvatar("bob"), nullptr);  // no avatar: nothing cached
    EXPECT_EQ(User_GetUserProfileAvatar("bob"), nullptr);
    EXPECT_EQ(Received().size(), 2u);

    AnswerWith("User_GetUserProfileAvatar", Png(3, 2));
    auto picture = User_GetUserProfileAvatar("bob");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Width, 3);
    EXPECT_EQ(picture->Height, 2);
    picture = User_GetUserProfileAvatar("bob");
    ASSERT_NE(picture, nullptr) << "decoded anew from the cached bytes";
    EXPECT_EQ(picture->Pixels.size(), 6u);
    EXPECT_EQ(Received().size(), 3u);

    // Bytes that are no picture are cached too: they are what the server holds.
    const std::vector<uint8_t> junk = {'n', 'o', 'p', 'e'};
    AnswerWith("User_GetProfileAvatar", junk);
    EXPECT_EQ(User_GetProfileAvatar(), nullptr);
    EXPECT_EQ(User_GetProfileAvatar(), nullptr);
    EXPECT_EQ(Received().size(), 4u);
    EXPECT_FALSE(Submitted().back().WithList);
}

TEST_F(ProfileRequests, FailedFetchesCacheNothingTheyDidNotReceive) {
    RefuseSubmissionOf("User_GetUserProfile");
    EXPECT_EQ(User_GetUserProfile("bob"), "");
    EXPECT_NE(GetLastErrorText(), "");
    EXPECT_EQ(User_GetUserProfile("bob"), "");
    EXPECT_EQ(Submitted().size(), 2u) << "a refused fetch cached nothing";

    AnswerWith("User_GetUserProfileAvatar", ErrorEvent{JobEvent_Failed});
    EXPECT_EQ(User_GetUserProfileAvatar("bob"), nullptr);
    EXPECT_EQ(GetLastErrorText(), "An error occurred during your last request");
}

TEST_F(ProfileRequests, AFetchEndedByAKickReturnsNothingAndCachesNothing) {
    // An earlier reply left a text in the reply fields.
    AnswerWith("User_GetUserProfile", std::string("VERSION 1\n\rFirstName: Old"));
    EXPECT_EQ(User_GetUserProfile("old"), "VERSION 1\n\rFirstName: Old");

    AnswerWith("User_GetUserProfile", HeldAnswer{});
    auto fetch = std::async(std::launch::async, [] { return User_GetUserProfile("bob"); });
    ASSERT_TRUE(WaitUntilHeld());
    ASSERT_TRUE(server->kick(ClientOnServer()));
    ASSERT_EQ(fetch.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(fetch.get(), "");
    EXPECT_EQ(GetLastErrorText(), "You where kicked from server");
    ReleaseHeldJobs();

    ASSERT_NE(ConnectToServer(), 0);
    AnswerWith("User_GetUserProfile", std::string("fresh"));
    EXPECT_EQ(User_GetUserProfile("bob"), "fresh") << "the kicked fetch cached nothing";
}

TEST_F(ProfileRequests, AnAvatarFetchEndedByAShutdownCachesNothing) {
    AnswerWith("User_GetProfileAvatar", HeldAnswer{});
    auto fetch = std::async(std::launch::async, [] { return User_GetProfileAvatar(); });
    ASSERT_TRUE(WaitUntilHeld());
    std::thread shutdown([this] { server->shutdown(); });
    const bool ended = fetch.wait_for(20s) == std::future_status::ready;
    ReleaseHeldJobs();
    shutdown.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(fetch.get(), nullptr);
    std::lock_guard cache(ClientState.CacheMutex);
    EXPECT_EQ(Cluster::Drovik_Cache_isCached(ClientState.Cache, "Avatar_@Own"), 0);
}

TEST_F(ProfileRequests, AvatarFileChecksSendNothing) {
    SetLimits(4096, 100, 100);
    const std::string wide = Write("wide.png", Png(101, 100));
    const std::string text = Write("notes.txt", {'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> large = Png(10, 10);
    const std::string fits = Write("fits.png", large);
    SetLimits(int32_t(large.size()) - 1, 100, 100);
    EXPECT_EQ(User_SetProfileAvatar(fits), 2) << "one byte over the size limit";
    SetLimits(4096, 100, 100);
    EXPECT_EQ(User_SetProfileAvatar(wide), 3);
    EXPECT_EQ(User_SetProfileAvatar(text), 5);
    EXPECT_EQ(User_SetProfileAvatar((folder / "missing.png").string()), 4);
    EXPECT_EQ(User_SetProfileAvatar(folder.string()), 5) << "a directory is no picture";
    // Too large in bytes and in pixels: the size is checked first, the picture never decoded.
    SetLimits(10, 100, 100);
    EXPECT_EQ(User_SetProfileAvatar(wide), 2);
    // Without preferences every non-empty file is too large.
    SetLimits(0, 0, 0);
    EXPECT_EQ(User_SetProfileAvatar(fits), 2);
    // A picture too large for the decoder itself is still refused for its dimensions.
    SetLimits(1 << 20, 100, 100);
    EXPECT_EQ(User_SetProfileAvatar(Write("huge.png", Png(9000, 1))), 3);
    EXPECT_TRUE(Submitted().empty());
}

TEST_F(ProfileRequests, AvatarUploadSendsTheFileAndDropsTheOwnEntries) {
    SetLimits(4096, 100, 100);
    AnswerWith("User_GetProfile", std::string("VERSION 1"));
    EXPECT_EQ(User_GetProfile(), "VERSION 1");

    const std::vector<uint8_t> png = Png(100, 100);
    const std::string path = Write("avatar.png", png);
    AnswerWith("User_SetProfileAvatar", 1);
    EXPECT_EQ(User_SetProfileAvatar(path), 1);
    const auto received = Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].Values, (ReceivedValues{"m:" + std::string(png.begin(), png.end())}));

    EXPECT_EQ(User_GetProfile(), "VERSION 1");
    EXPECT_EQ(Received().size(), 3u) << "the upload deleted the own profile entry";
}

TEST_F(ProfileRequests, AnAvatarFileThatChangedAfterItsChecksIsNotSent) {
    SetLimits(4096, 100, 100);
    const std::string path = Write("avatar.png", Png(20, 20));
    ASSERT_EQ(CheckAvatarFile(path), 0);
    std::filesystem::remove(path);
    EXPECT_EQ(SendAvatarFile(path), 4) << "vanished before it was read";

    Write("avatar.png", std::vector<uint8_t>(5000, 0x42));
    EXPECT_EQ(SendAvatarFile(path), 2) << "grew beyond the limit";
    EXPECT_TRUE(Submitted().empty());
}
