#include "Network/Client_Demo/Translators.h"

#include <QString>
#include <span>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/MessageBox.h"
#include "Network/Client_Demo/TextCodec.h"
#include "protocol/ReplyCodes.h"

namespace {

struct CodeText {
    int32_t Code;
    const char16_t *Text;
};

// The code means something else in every group, so each group has its own table.
constexpr CodeText LoginTexts[] = {
    {LoginCode::UnknownName, u"Unbekannter Benutzername"},
    {LoginCode::WrongPassword, u"Falsches Passwort"},
    {LoginCode::LoggedInElsewhere, u"Benutzername schon eingeloggt"},
    {LoginCode::OtherAccountHere, u"Schon mit anderem Account eingelogt"},
    {LoginCode::Banned, u"Benutzername gebannt"},
};

constexpr CodeText RegisterTexts[] = {
    {RegisterCode::NameExists, u"Benutzername existiert schon"},
    {RegisterCode::PasswordTooShort, u"Passwort zu kurz"},
    {RegisterCode::NameBanned, u"Benutzername gebannt"},
    {RegisterCode::NameInvalid, u"Benutzername ungültig. Muss aus A-Z, a-z, 0-9 und _ bestehen"},
};

constexpr CodeText ControlTexts[] = {
    {ControlCode::WrongPassword, u"Falsches Passwort"},
    {ControlCode::NoRights, u"Keine Control - Rechte"},
    {ControlCode::UnknownUser, u"Unbekannter Benutzername"},
    {ControlCode::NotLoggedIn, u"Benutzer nicht eingeloggt"},
    {ControlCode::KickingOneself, u"Du kannst dich nicht selbst kicken"},
};

constexpr CodeText AvatarTexts[] = {
    {AvatarCode::TooLarge, u"Avatar zu groß, max 10 Kb"},
    {AvatarCode::TooWide, u"Avatar zu groß, max 100x100 Pixel"},
    {AvatarCode::FileUnreadable, u"Avatardatei nicht gefunden, bzw. kann nicht geöffnet werden"},
    {AvatarCode::NotAPicture, u"Ungültiges Bildformat"},
};

// Every refusal a group's requests can bring has its text.
static_assert(std::size(LoginTexts) == RefusalCodeCount(ReplyGroup::Login));
static_assert(std::size(RegisterTexts) == RefusalCodeCount(ReplyGroup::Register));
static_assert(std::size(ControlTexts) == RefusalCodeCount(ReplyGroup::Control));
static_assert(std::size(AvatarTexts) == RefusalCodeCount(ReplyGroup::Avatar));

constexpr const char16_t *ErrorCaption = u"Fehler";

int32_t Translate(int32_t code, std::span<const CodeText> table) {
    for (const CodeText &entry : table) {
        if (entry.Code == code) {
            ShowModalMessage(QString::fromUtf16(ErrorCaption), QString::fromUtf16(entry.Text));
            return 0;
        }
    }
    if (code == ReplyCode::Failed) {
        ShowModalMessage(QString::fromUtf16(ErrorCaption), FromWire(GetLastErrorText()));
        return 0;
    }
    return 1;  // success, or a code this group does not know
}

}  // namespace

int32_t CheckLoginResult(int32_t code) {
    return Translate(code, LoginTexts);
}
int32_t CheckRegisterResult(int32_t code) {
    return Translate(code, RegisterTexts);
}
int32_t CheckControlResult(int32_t code) {
    return Translate(code, ControlTexts);
}
int32_t CheckAvatarResult(int32_t code) {
    return Translate(code, AvatarTexts);
}
int32_t CheckLogoutResult(int32_t code) {
    return Translate(code, {});
}
int32_t CheckResult(int32_t code) {
    return Translate(code, {});
}
