#include "Network/Client_Demo/ControlState.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <initializer_list>

#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/WindowWidgets.h"

namespace {

void EnableAll(std::initializer_list<QWidget *> controls, bool enabled) {
    for (QWidget *control : controls) {
        control->setEnabled(enabled);
    }
}

// Shown in its normal state and made the active window.
void ShowAndActivate(QWidget *window) {
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void PaintWhite(QWidget *control) {
    QPalette palette = control->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::white);
    }
    control->setPalette(palette);
}

}  // namespace

void SetConnectionControls(int32_t connected) {
    const MainWindowControls &c = Controls.Main;
    EnableAll({c.UserField, c.PassField, c.LoginButton, c.LogoutButton, c.RegisterButton},
              connected == 1);
    if (connected == 0) {
        SetLoginControls(0);
        c.RegisterButton->setEnabled(false);  // SetLoginControls(0) has just enabled it
    }
}

void SetLoginControls(int32_t loggedIn) {
    const MainWindowControls &c = Controls.Main;
    EnableAll({c.OnlineList, c.ChatView, c.MessageField, c.SendButton, c.AdministrateButton},
              loggedIn == 1);
    c.RegisterButton->setEnabled(loggedIn == 0);
    ShowAdminWindow(0);
    ShowProfileWindow(0, 0);
}

void SetAdminControls(int32_t enabled) {
    const AdminWindowControls &c = Controls.Admin;
    EnableAll({c.ChangeAdminPwdButton, c.NewAdminPasswordField, c.StopServerButton,
               c.TargetUserField, c.KickUserButton, c.BanUserButton, c.UnbanUserButton,
               c.KickBanUserButton, c.ForceLoginButton},
              enabled == 1);
}

void ShowAdminWindow(int32_t show) {
    Controls.AdminWindow->hide();
    if (show == 1) {
        SetAdminControls(0);
        Controls.Admin.NewAdminPasswordField->clear();
        Controls.Admin.AdminPasswordField->clear();
        ShowAndActivate(Controls.AdminWindow);
    }
}

void ShowProfileWindow(int32_t show, int32_t editable) {
    Controls.ProfileWindow->hide();
    if (show != 1) {
        return;
    }
    const ProfileWindowControls &c = Controls.Profile;
    EnableAll({c.SendPrivateButton, c.FlushCacheButton}, editable == 0);
    EnableAll({c.FirstNameField, c.SureNameField, c.CountryField, c.CityField, c.BirthField,
               c.HomepageField, c.AvatarImage, c.SignatureEditor, c.SaveButton},
              editable == 1);
    const std::initializer_list<QWidget *> profileFields = {
        c.FirstNameField, c.SureNameField, c.CountryField,   c.CityField,
        c.BirthField,     c.HomepageField, c.SignatureEditor};
    for (QWidget *field : profileFields) {
        PaintWhite(field);
    }
    ShowAndActivate(Controls.ProfileWindow);
}
