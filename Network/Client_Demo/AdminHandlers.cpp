// Handlers of AdminWindow. Every reply code goes to CheckControlResult.
#include <QLineEdit>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/Translators.h"
#include "Network/Common/CurrentLocation.h"

namespace {

std::string TargetUser() {
    return ToWire(Controls.Admin.TargetUserField->text());
}

int32_t CheckControl(int32_t code) {
    FrontEndState.LastReplyCode = code;
    return CheckControlResult(code);
}

}  // namespace

void StartAdminButtonHandler() {
    RecordLocation();
    const std::string password = ToWire(Controls.Admin.AdminPasswordField->text());
    if (CheckControl(Control_Start(password)) == 1) {
        SetAdminControls(1);
    }
}

void StopAdminButtonHandler() {
    RecordLocation();
    CheckControl(Control_Stop());
    ShowAdminWindow(0);
}

void StopServerButtonHandler() {
    RecordLocation();
    if (CheckControl(Control_StopServer()) == 1) {
        FrontEndState.LoggedIn = 0;
        FrontEndState.Connected = 0;
        SetConnectionControls(0);
    }
}

void ChangeAdminPwdButtonHandler() {
    RecordLocation();
    CheckControl(Control_ChangePassword(ToWire(Controls.Admin.NewAdminPasswordField->text())));
}

void KickUserButtonHandler() {
    RecordLocation();
    CheckControl(Control_KickUser(TargetUser()));
}

void BanUserButtonHandler() {
    RecordLocation();
    CheckControl(Control_BannUser(TargetUser(), 1, 3));
}

void UnbanUserButtonHandler() {
    RecordLocation();
    CheckControl(Control_BannUser(TargetUser(), 0, 3));
}

void KickBanUserButtonHandler() {
    RecordLocation();
    CheckControl(Control_KickBannUser(TargetUser(), 1, 3));
}

void ForceLoginButtonHandler() {
    RecordLocation();
    const QString user = Controls.Admin.TargetUserField->text();
    if (CheckControl(Control_ForceLogin(ToWire(user))) == 1) {
        FrontEndState.LoginName = ToWire(user);
        Controls.Main.UserField->setText(user);
    }
}
