#include "Network/Client_Demo/Translators.h"

#include <QString>
#include <span>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/MessageBox.h"
#include "Network/Client_Demo/TextCodec.h"

namespace {

struct CodeText {
    int32_t Code;
    const char16_t *Text;
};

// The code means something else in every group, so each group has its own table.
constexpr CodeText LoginTexts[] = {
    {2, u"Unbekannter Benutzername"},      {3, u"Falsches Passwort"},
    {4, u"Benutzername schon eingeloggt"}, {5, u"Schon mit anderem Account eingelogt"},
    {6, u"Benutzername gebannt"},
};

constexpr CodeText RegisterTexts[] = {
    {2, u"Benutzername existiert schon"},
    {3, u"Passwort zu kurz"},
    {4, u"Benutzername gebannt"},
    {5, u"Benutzername ungültig. Muss aus A-Z, a-z, 0-9 und _ bestehen"},
};

constexpr CodeText ControlTexts[] = {
    {2, u"Falsches Passwort"},
    {3, u"Keine Control - Rechte"},
    {4, u"Unbekannter Benutzername"},
    {5, u"Benutzer nicht eingeloggt"},
    {6, u"Du kannst dich nicht selbst kicken"},
};

constexpr CodeText AvatarTexts[] = {
    {2, u"Avatar zu groß, max 10 Kb"},
    {3, u"Avatar zu groß, max 100x100 Pixel"},
    {4, u"Avatardatei nicht gefunden, bzw. kann nicht geöffnet werden"},
    {5, u"Ungültiges Bildformat"},
};

constexpr const char16_t *ErrorCaption = u"Fehler";

int32_t Translate(int32_t code, std::span<const CodeText> table) {
    for (const CodeText &entry : table) {
        if (entry.Code == code) {
            ShowModalMessage(QString::fromUtf16(ErrorCaption), QString::fromUtf16(entry.Text));
            return 0;
        }
    }
    if (code == 0) {
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
