#include "Network/Client_Demo/ProfileDisplay.h"

#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/WindowWidgets.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/TextFormats.h"

namespace {

std::string LowerCase(const std::string &wireText) {
    return ToWire(FromWire(wireText).toLower());
}

void FillProfileFields() {
    const auto &texts = FrontEndState.ProfileTexts;
    const ProfileWindowControls &c = Controls.Profile;
    c.FirstNameField->setText(FromWire(texts[FirstNameValue]));
    c.SureNameField->setText(FromWire(texts[SureNameValue]));
    c.CountryField->setText(FromWire(texts[CountryValue]));
    c.CityField->setText(FromWire(texts[CityValue]));
    c.BirthField->setText(FromWire(texts[BirthValue]));
    c.HomepageField->setText(FromWire(texts[HomepageValue]));
    c.SignatureEditor->setPlainText(SignatureForEditor(texts[SignatureValue]));
    // Long values are read from their start, as after typing them.
    for (QLineEdit *field : {c.FirstNameField, c.SureNameField, c.CountryField, c.CityField,
                             c.BirthField, c.HomepageField}) {
        field->setCursorPosition(0);
    }
}

}  // namespace

QImage PictureToImage(const Picture *picture) {
    if (picture == nullptr || picture->Width <= 0 || picture->Height <= 0 ||
        picture->Pixels.size() !=
            static_cast<size_t>(picture->Width) * static_cast<size_t>(picture->Height)) {
        return {};
    }
    const QImage view(reinterpret_cast<const uchar *>(picture->Pixels.data()), picture->Width,
                      picture->Height, picture->Width * 4, QImage::Format_ARGB32);
    return view.copy();  // the image must not refer to the picture, which its owner may free
}

void ShowAvatarImage() {
    const QImage image = PictureToImage(FrontEndState.ShownAvatar.get());
    if (image.isNull()) {
        Controls.Profile.AvatarImage->clear();
    } else {
        Controls.Profile.AvatarImage->setPixmap(QPixmap::fromImage(image));
    }
}

QString SignatureForEditor(const std::string &wireSignature) {
    QString text = FromWire(wireSignature);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string SignatureFromEditor(const QString &editorText) {
    QString text = editorText;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return ToWire(text);
}

void ShowProfile() {
    RecordLocation();
    FrontEndStateRecord &state = FrontEndState;
    if (state.SelectedUser.empty()) {
        return;
    }
    state.ShownAvatar.reset();
    ShowAvatarImage();  // never keep showing a picture that has been freed

    // Only the list entry equal to the lower-case login name is the own profile: names are
    // listed in lower case, but the list entry itself is compared unchanged.
    if (state.SelectedUser == LowerCase(state.LoginName)) {
        state.ProfileText = User_GetProfile();
        state.ShownAvatar = User_GetProfileAvatar();
        state.OwnProfileShown = 1;
    } else {
        state.ProfileText = User_GetUserProfile(state.SelectedUser);
        state.ShownAvatar = User_GetUserProfileAvatar(state.SelectedUser);
        state.OwnProfileShown = 0;
    }
    RecordLocation();

    if (state.ProfileText.empty()) {
        state.ProfileTexts = {};
    } else {
        state.ProfileTexts = ParseProfileText(state.ProfileText);
    }
    FillProfileFields();
    ShowAvatarImage();
    ShowProfileWindow(1, state.OwnProfileShown);
}
