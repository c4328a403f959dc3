// Ties every control event the program reacts to to its handler. Controls without a handler
// (frames, labels, text fields, ChatView, SignatureEditor) react to nothing.
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/WindowWidgets.h"

namespace {

void OnClick(QPushButton *button, void (*handler)()) {
    QObject::connect(button, &QPushButton::clicked, button, [handler] { handler(); });
}

}  // namespace

void ConnectHandlers() {
    const MainWindowControls &m = Controls.Main;
    OnClick(m.ConnectButton, ConnectButtonHandler);
    OnClick(m.DisconnectButton, DisconnectButtonHandler);
    OnClick(m.RegisterButton, RegisterButtonHandler);
    OnClick(m.LoginButton, LoginButtonHandler);
    OnClick(m.LogoutButton, LogoutButtonHandler);
    OnClick(m.SendButton, SendButtonHandler);
    OnClick(m.AdministrateButton, AdministrateButtonHandler);
    // A left double-click on an item of the list; one on its empty part does nothing.
    QListWidget *list = m.OnlineList;
    list->viewport()->installEventFilter(new LeftDoubleClickFilter(
        list,
        [list](QMouseEvent *event) { return list->itemAt(event->position().toPoint()) != nullptr; },
        OnlineListDoubleClickHandler));

    const ProfileWindowControls &p = Controls.Profile;
    p.AvatarImage->OnLeftDoubleClick = AvatarImageDoubleClickHandler;
    OnClick(p.SaveButton, SaveButtonHandler);
    OnClick(p.FlushCacheButton, FlushCacheButtonHandler);
    OnClick(p.SendPrivateButton, SendPrivateButtonHandler);
    OnClick(p.CloseProfileButton, CloseProfileButtonHandler);

    const AdminWindowControls &a = Controls.Admin;
    OnClick(a.StartAdminButton, StartAdminButtonHandler);
    OnClick(a.StopAdminButton, StopAdminButtonHandler);
    OnClick(a.StopServerButton, StopServerButtonHandler);
    OnClick(a.ChangeAdminPwdButton, ChangeAdminPwdButtonHandler);
    OnClick(a.KickUserButton, KickUserButtonHandler);
    OnClick(a.BanUserButton, BanUserButtonHandler);
    OnClick(a.UnbanUserButton, UnbanUserButtonHandler);
    OnClick(a.KickBanUserButton, KickBanUserButtonHandler);
    OnClick(a.ForceLoginButton, ForceLoginButtonHandler);
}
