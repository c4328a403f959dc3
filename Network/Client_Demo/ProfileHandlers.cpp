// Handlers of ProfileWindow: avatar choice, saving the profile, flushing the cache, private
// messages and closing the window.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/ProfileDisplay.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/Translators.h"
#include "Network/Common/CurrentLocation.h"

namespace {

// The file-open requester: a standard, non-native dialog. A cancelled requester gives "".
QString AskForAvatarFile(const QString &defaultFile) {
    const QString patterns = QStringLiteral("*.bmp;*.jpg;*.jpeg;*.png");
    QFileDialog dialog(Controls.ProfileWindow, QStringLiteral("Avatar wählen"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(patterns + QStringLiteral(" (*.bmp *.jpg *.jpeg *.png)"));
    if (!defaultFile.isEmpty()) {
        dialog.selectFile(defaultFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

// The input requester: one OK button; closing it any other way gives "".
QString AskForPrivateMessage(const QString &recipient) {
    QInputDialog dialog(Controls.ProfileWindow);
    dialog.setWindowTitle(QStringLiteral("Nachricht senden"));
    dialog.setLabelText(QStringLiteral("Nachricht an ") + recipient + QStringLiteral(" senden"));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(QString());
    dialog.setOkButtonText(QStringLiteral("OK"));
    if (auto *buttons = dialog.findChild<QDialogButtonBox *>()) {
        if (QPushButton *cancel = buttons->button(QDialogButtonBox::Cancel)) {
            cancel->hide();
        }
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.textValue();
}

}  // namespace

void AvatarImageDoubleClickHandler() {
    RecordLocation();
    FrontEndState.AvatarFile =
        ToLocalPath(AskForAvatarFile(FromLocalPath(FrontEndState.AvatarFile)));
    if (FrontEndState.AvatarFile.empty()) {
        return;
    }
    FrontEndState.LastReplyCode = User_SetProfileAvatar(FrontEndState.AvatarFile);
    if (CheckAvatarResult(FrontEndState.LastReplyCode) == 1) {
        FrontEndState.ShownAvatar.reset();
        FrontEndState.ShownAvatar = User_GetProfileAvatar();
        ShowAvatarImage();
    }
}

void SaveButtonHandler() {
    RecordLocation();
    const ProfileWindowControls &c = Controls.Profile;
    auto &texts = FrontEndState.ProfileTexts;
    texts[FirstNameValue] = ToWire(c.FirstNameField->text());
    texts[SureNameValue] = ToWire(c.SureNameField->text());
    texts[CountryValue] = ToWire(c.CountryField->text());
    texts[CityValue] = ToWire(c.CityField->text());
    texts[BirthValue] = ToWire(c.BirthField->text());
    texts[HomepageValue] = ToWire(c.HomepageField->text());
    texts[SignatureValue] = SignatureFromEditor(c.SignatureEditor->toPlainText());
    FrontEndState.LastReplyCode = User_SetProfile(
        texts[FirstNameValue], texts[SureNameValue], texts[CountryValue], texts[CityValue],
        texts[BirthValue], texts[HomepageValue], texts[SignatureValue]);
    CheckResult(FrontEndState.LastReplyCode);
}

void FlushCacheButtonHandler() {
    RecordLocation();
    DeleteCachedProfile(FrontEndState.SelectedUser);
    ShowProfile();
}

void SendPrivateButtonHandler() {
    RecordLocation();
    const QString text = AskForPrivateMessage(FromWire(FrontEndState.SelectedUser));
    if (text.isEmpty()) {
        return;
    }
    FrontEndState.LastReplyCode = User_SendMessage(FrontEndState.SelectedUser, ToWire(text));
    CheckResult(FrontEndState.LastReplyCode);
}

void CloseProfileButtonHandler() {
    RecordLocation();
    ShowProfileWindow(0, 0);
}
