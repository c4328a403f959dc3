// Handlers of MainWindow: connection, account and chat commands.
#include <QLineEdit>
#include <QListWidget>
#include <limits>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/ProfileDisplay.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/Translators.h"
#include "Network/Common/CurrentLocation.h"

int32_t PortFromText(const QString &text) {
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t')) {
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return std::numeric_limits<int32_t>::max();
        }
    }
    return static_cast<int32_t>(value);
}

void ConnectButtonHandler() {
    RecordLocation();
    const std::string host = ToWire(Controls.Main.HostField->text());
    const int32_t port = PortFromText(Controls.Main.PortField->text());
    const intptr_t slave = Connect(host, port, "", 0, "", "", 0, 5);
    FrontEndState.Connected = slave != 0 ? 1 : 0;
    SetConnectionControls(FrontEndState.Connected);
}

void DisconnectButtonHandler() {
    RecordLocation();
    Disconnect();
    FrontEndState.Connected = 0;
    SetConnectionControls(0);
}

namespace {

void TakeLoginFields() {
    FrontEndState.LoginName = ToWire(Controls.Main.UserField->text());
    FrontEndState.LoginPassword = ToWire(Controls.Main.PassField->text());
}

// A refused login leaves the connection with the account it had: while one is logged in, its name
// and password stay, so that its own profile is still recognised as its own.
void LogInWithLoginFields(const std::string &previousName, const std::string &previousPassword) {
    FrontEndState.LastReplyCode = User_Login(FrontEndState.LoginName, FrontEndState.LoginPassword);
    if (CheckLoginResult(FrontEndState.LastReplyCode) == 1) {
        FrontEndState.LoggedIn = 1;
    } else if (FrontEndState.LoggedIn != 0) {
        FrontEndState.LoginName = previousName;
        FrontEndState.LoginPassword = previousPassword;
    }
}

}  // namespace

void RegisterButtonHandler() {
    RecordLocation();
    const std::string previousName = FrontEndState.LoginName;
    const std::string previousPassword = FrontEndState.LoginPassword;
    TakeLoginFields();
    FrontEndState.LastReplyCode =
        User_Register(FrontEndState.LoginName, FrontEndState.LoginPassword);
    if (CheckRegisterResult(FrontEndState.LastReplyCode) == 1) {
        LogInWithLoginFields(previousName, previousPassword);
    } else if (FrontEndState.LoggedIn != 0) {
        FrontEndState.LoginName = previousName;
        FrontEndState.LoginPassword = previousPassword;
    }
    SetLoginControls(FrontEndState.LoggedIn);
}

void LoginButtonHandler() {
    RecordLocation();
    const std::string previousName = FrontEndState.LoginName;
    const std::string previousPassword = FrontEndState.LoginPassword;
    TakeLoginFields();
    LogInWithLoginFields(previousName, previousPassword);
    SetLoginControls(FrontEndState.LoggedIn);
}

void LogoutButtonHandler() {
    RecordLocation();
    FrontEndState.LastReplyCode = User_Logout();
    if (CheckLogoutResult(FrontEndState.LastReplyCode) == 1) {
        FrontEndState.LoggedIn = 0;
    }
    SetLoginControls(FrontEndState.LoggedIn);
}

void SendButtonHandler() {
    RecordLocation();
    const QString text = Controls.Main.MessageField->text();
    if (text.isEmpty()) {
        return;
    }
    FrontEndState.LastReplyCode = User_SendGlobalMessage(ToWire(text));
    CheckResult(FrontEndState.LastReplyCode);
    Controls.Main.MessageField->clear();
}

void AdministrateButtonHandler() {
    RecordLocation();
    ShowAdminWindow(1);
}

void OnlineListDoubleClickHandler() {
    RecordLocation();
    const QList<QListWidgetItem *> selected = Controls.Main.OnlineList->selectedItems();
    FrontEndState.SelectedUser = selected.isEmpty() ? std::string() : ToWire(selected[0]->text());
    ShowProfile();
}
