// Every AdminWindow handler against a real community server; a second user (victim) in a process
// of its own is kicked, banned, unbanned and taken over. The server is stopped at the end.
#include <QLineEdit>
#include <QTest>

#include "GuiTestSupport.h"
#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/FrontEndState.h"

namespace {

void SetText(const char *name, const QString &text) {
    Find<QLineEdit>(name)->setText(text);
}
bool IsEnabled(const char *name) {
    return FindControl(QString::fromLatin1(name))->isEnabled();
}
bool IsShown(const char *name) {
    return FindControl(QString::fromLatin1(name))->isVisible();
}

// Clicks the button and returns the texts of the boxes it showed.
QStringList ClickAndCollect(const char *button) {
    QStringList texts;
    for (const SeenBox &box : AnswerBoxesDuring([button] { Click(button); })) {
        texts.append(box.Text);
    }
    return texts;
}

constexpr const char *AdminCommands[] = {
    "ChangeAdminPwdButton", "NewAdminPasswordField", "StopServerButton",
    "TargetUserField",      "KickUserButton",        "BanUserButton",
    "UnbanUserButton",      "KickBanUserButton",     "ForceLoginButton"};

}  // namespace

class GuiAdminTests : public QObject {
    Q_OBJECT

    TestServer Server;
    PeerClient Victim;

    void ConnectVictim() {
        QCOMPARE(Victim.Command(QStringLiteral("connect 127.0.0.1 %1").arg(Server.Port())),
                 QStringLiteral("1"));
    }

    void StartAdmin(const QString &password) {
        Click("AdministrateButton");
        SetText("AdminPasswordField", password);
        QCOMPARE(ClickAndCollect("StartAdminButton"), QStringList());
    }

private slots:
    void initTestCase() {
        QVERIFY(Server.Start());
        QVERIFY(Victim.Start());
        ConnectVictim();
        QCOMPARE(Victim.Command(QStringLiteral("register victim victim12")), QStringLiteral("1"));
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("1"));
        ClientDeInitDelayMs = 0;
        QCOMPARE(ClientDemo_StartUp(), 1);
        SetText("HostField", QStringLiteral("127.0.0.1"));
        SetText("PortField", QString::number(Server.Port()));
        Click("ConnectButton");
        SetText("UserField", QStringLiteral("Root_1"));
        SetText("PassField", QStringLiteral("rootpw12"));
        QCOMPARE(ClickAndCollect("RegisterButton"), QStringList());
        QCOMPARE(FrontEndState.LoggedIn.load(), 1);
    }

    void cleanupTestCase() { ClientDemo_ShutDown(); }

    void administrateOpensTheWindowLocked() {
        Click("AdministrateButton");
        QVERIFY(IsShown("AdminWindow"));
        for (const char *name : AdminCommands) {
            QVERIFY2(!IsEnabled(name), name);
        }
        QVERIFY(IsEnabled("StartAdminButton") && IsEnabled("StopAdminButton"));
    }

    void wrongAdminPasswordKeepsTheCommandsLocked() {
        SetText("AdminPasswordField", QStringLiteral("not-it"));
        QCOMPARE(ClickAndCollect("StartAdminButton"), QStringList{"Falsches Passwort"});
        QCOMPARE(FrontEndState.LastReplyCode, 2);
        QVERIFY(!IsEnabled("KickUserButton"));
    }

    void startAdminUnlocksTheCommands() {
        SetText("AdminPasswordField", TestServer::AdminPassword());
        QCOMPARE(ClickAndCollect("StartAdminButton"), QStringList());
        for (const char *name : AdminCommands) {
            QVERIFY2(IsEnabled(name), name);
        }
    }

    void kickRefusals_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << "ghost"
                                 << "Unbekannter Benutzername";
        QTest::newRow("oneself") << "root_1"
                                 << "Du kannst dich nicht selbst kicken";
    }

    void kickRefusals() {
        QFETCH(QString, target);
        QFETCH(QString, text);
        SetText("TargetUserField", target);
        QCOMPARE(ClickAndCollect("KickUserButton"), QStringList{text});
    }

    void kickUserEndsTheirConnection() {
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("KickUserButton"), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(Victim.Command(QStringLiteral("global hello")),
                                  QStringLiteral("0"), 10000);
        ConnectVictim();
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("1"));
    }

    void kickNotLoggedInUser() {
        QCOMPARE(Victim.Command(QStringLiteral("logout")), QStringLiteral("1"));
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("KickUserButton"), QStringList{"Benutzer nicht eingeloggt"});
    }

    void banAndUnban() {
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("BanUserButton"), QStringList());
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("6"));
        QCOMPARE(ClickAndCollect("UnbanUserButton"), QStringList());
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("1"));
    }

    void kickBanEndsAndBarsTheLogin() {
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("KickBanUserButton"), QStringList());
        QCOMPARE(FrontEndState.LastReplyCode, 1);
        QTRY_COMPARE_WITH_TIMEOUT(Victim.Command(QStringLiteral("global hello")),
                                  QStringLiteral("0"), 10000);
        ConnectVictim();
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("6"));
        QCOMPARE(ClickAndCollect("UnbanUserButton"), QStringList());
        QCOMPARE(Victim.Command(QStringLiteral("login victim victim12")), QStringLiteral("1"));
    }

    void forceLoginTakesOverTheName() {
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("ForceLoginButton"), QStringList());
        QCOMPARE(FrontEndState.LoginName, std::string("victim"));
        QCOMPARE(Find<QLineEdit>("UserField")->text(), QStringLiteral("victim"));
        QCOMPARE(FrontEndState.LoggedIn.load(), 1);
    }

    void changedAdminPasswordIsTheOnlyOneAccepted() {
        SetText("NewAdminPasswordField", QStringLiteral("new-admin-pw"));
        QCOMPARE(ClickAndCollect("ChangeAdminPwdButton"), QStringList());
        QCOMPARE(Find<QLineEdit>("NewAdminPasswordField")->text(),
                 QStringLiteral("new-admin-pw"));  // not cleared
        QCOMPARE(ClickAndCollect("StopAdminButton"), QStringList());
        QVERIFY(!IsShown("AdminWindow"));
        Click("AdministrateButton");
        SetText("AdminPasswordField", TestServer::AdminPassword());
        QCOMPARE(ClickAndCollect("StartAdminButton"), QStringList{"Falsches Passwort"});
        SetText("AdminPasswordField", QStringLiteral("new-admin-pw"));
        QCOMPARE(ClickAndCollect("StartAdminButton"), QStringList());
    }

    void stopAdminHidesTheWindowEvenWhenRefused() {
        QCOMPARE(ClickAndCollect("StopAdminButton"), QStringList());
        QVERIFY(!IsShown("AdminWindow"));
        Click("AdministrateButton");
        const QStringList texts = ClickAndCollect("StopAdminButton");  // not in admin mode now
        QVERIFY(!IsShown("AdminWindow"));
        QCOMPARE(texts.size(), FrontEndState.LastReplyCode == 1 ? 0 : 1);
    }

    void controlWithoutRightsIsRefused() {
        // The window only unlocks its commands after Start Admin; unlocking them directly shows
        // how the server's refusal of a command outside administrator mode reaches the user.
        Click("AdministrateButton");
        SetAdminControls(1);
        SetText("TargetUserField", QStringLiteral("victim"));
        QCOMPARE(ClickAndCollect("KickUserButton"), QStringList{"Keine Control - Rechte"});
        QCOMPARE(FrontEndState.LastReplyCode, 3);
        QCOMPARE(ClickAndCollect("StopAdminButton").size(),
                 FrontEndState.LastReplyCode == 1 ? 0 : 1);
    }

    void stopServerDisconnects() {
        StartAdmin(QStringLiteral("new-admin-pw"));
        QCOMPARE(ClickAndCollect("StopServerButton"), QStringList());
        QCOMPARE(FrontEndState.Connected, 0);
        QCOMPARE(FrontEndState.LoggedIn.load(), 0);
        QVERIFY(!IsEnabled("UserField"));
        QVERIFY(!IsShown("AdminWindow"));
        QVERIFY(Server.WaitForExit(15000));
    }
};

QTEST_MAIN(GuiAdminTests)
#include "tst_gui_admin.moc"
