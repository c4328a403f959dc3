// MainWindow's 21 controls: the "Server" row, the "User" row and the chat area below them.
#include "Network/Client_Demo/ControlFactory.h"
#include "Network/Client_Demo/Controls.h"

void BuildMainWindowControls() {
    MainWindowControls &c = Controls.Main;
    c.ServerFrame = CreateGroupFrame("ServerFrame", QStringLiteral("Server"), {5, 5, 490, 40});
    c.HostLabel = CreateLabel("HostLabel", QStringLiteral("Host: "), {15, 22, 30, 20});
    c.HostField = CreateTextField("HostField", QStringLiteral("localhost"), {45, 20, 100, 20});
    c.PortLabel = CreateLabel("PortLabel", QStringLiteral("Port: "), {160, 22, 30, 20});
    c.PortField = CreateDigitsField("PortField", QStringLiteral("7000"), {190, 20, 40, 20});
    c.AdministrateButton =
        CreateButton("AdministrateButton", QStringLiteral("Administrate"), {265, 20, 70, 20});
    c.ConnectButton = CreateButton("ConnectButton", QStringLiteral("Connect"), {340, 20, 70, 20});
    c.DisconnectButton =
        CreateButton("DisconnectButton", QStringLiteral("Disconnect"), {415, 20, 70, 20});
    c.UserFrame = CreateGroupFrame("UserFrame", QStringLiteral("User"), {5, 50, 490, 40});
    c.UserLabel = CreateLabel("UserLabel", QStringLiteral("User: "), {15, 67, 30, 20});
    c.UserField = CreateTextField("UserField", QStringLiteral("username"), {45, 65, 100, 20});
    c.PassLabel = CreateLabel("PassLabel", QStringLiteral("Pass: "), {160, 67, 30, 20});
    c.PassField = CreatePasswordField("PassField", {190, 65, 60, 20});
    c.LoginButton = CreateButton("LoginButton", QStringLiteral("Login"), {265, 65, 70, 20});
    c.LogoutButton = CreateButton("LogoutButton", QStringLiteral("Logout"), {340, 65, 70, 20});
    c.RegisterButton =
        CreateButton("RegisterButton", QStringLiteral("Register"), {415, 65, 70, 20});
    c.OnlineLabel = CreateLabel("OnlineLabel", QStringLiteral("User:"), {390, 93, 102, 20});
    c.OnlineList = CreateListBox("OnlineList", {395, 110, 100, 285});
    c.ChatView = CreateRichTextView("ChatView", {5, 110, 385, 260});
    c.MessageField = CreateTextField("MessageField", QString(), {5, 375, 300, 20});
    c.SendButton = CreateDefaultButton("SendButton", QStringLiteral("Senden"), {310, 375, 80, 20});
}
