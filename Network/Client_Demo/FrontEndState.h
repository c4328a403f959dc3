// The front-end's global record, shared by the handlers, the two periodic procedures and the
// profile display. Texts hold the request layer's Windows-1252 bytes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "picture/Picture.h"
#include "protocol/TextFormats.h"

struct PeriodicThread;

// Indexes of the seven profile values, in the order the profile text holds them.
enum ProfileValue : int {
    FirstNameValue,
    SureNameValue,
    CountryValue,
    CityValue,
    BirthValue,
    HomepageValue,
    SignatureValue,
    ProfileValueCount
};
static_assert(ProfileValueCount == ProfileFieldCount);

struct FrontEndStateRecord {
    int32_t Connected = 0;
    // Written by the main thread and by the list worker, read by both workers: one atomic flag.
    std::atomic<int32_t> LoggedIn = 0;
    std::string LoginName;
    std::string LoginPassword;
    std::string SelectedUser;
    std::string AvatarFile;
    std::unique_ptr<Picture> ShownAvatar;
    int32_t LastReplyCode = 0;
    std::array<std::string, ProfileValueCount> ProfileTexts;
    std::string ProfileText;
    int32_t OwnProfileShown = 0;
    PeriodicThread *ListWorker = nullptr;
    PeriodicThread *MessageWorker = nullptr;
};

extern FrontEndStateRecord FrontEndState;

// Back to the values of a fresh start (the workers must have been stopped).
void ResetFrontEndState();
