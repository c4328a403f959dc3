// The program right after start-up, without a server: windows, controls, their states, the
// control-state operations, the translators' boxes, and the close box ending the event loop.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "GuiTestSupport.h"
#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Translators.h"

namespace {

struct ControlRow {
    const char *Window;
    const char *Name;
    const char *Kind;
    const char16_t *Text;
    int X, Y, Width, Height;
    bool EnabledAtStart;
};

// The controls of the three windows in creation order.
constexpr ControlRow ControlTable[] = {
    {"MainWindow", "ServerFrame", "group frame", u"Server", 5, 5, 490, 40, true},
    {"MainWindow", "HostLabel", "label", u"Host: ", 15, 22, 30, 20, true},
    {"MainWindow", "HostField", "text field", u"localhost", 45, 20, 100, 20, true},
    {"MainWindow", "PortLabel", "label", u"Port: ", 160, 22, 30, 20, true},
    {"MainWindow", "PortField", "digits field", u"7000", 190, 20, 40, 20, true},
    {"MainWindow", "AdministrateButton", "button", u"Administrate", 265, 20, 70, 20, false},
    {"MainWindow", "ConnectButton", "button", u"Connect", 340, 20, 70, 20, true},
    {"MainWindow", "DisconnectButton", "button", u"Disconnect", 415, 20, 70, 20, true},
    {"MainWindow", "UserFrame", "group frame", u"User", 5, 50, 490, 40, true},
    {"MainWindow", "UserLabel", "label", u"User: ", 15, 67, 30, 20, true},
    {"MainWindow", "UserField", "text field", u"username", 45, 65, 100, 20, false},
    {"MainWindow", "PassLabel", "label", u"Pass: ", 160, 67, 30, 20, true},
    {"MainWindow", "PassField", "password field", u"", 190, 65, 60, 20, false},
    {"MainWindow", "LoginButton", "button", u"Login", 265, 65, 70, 20, false},
    {"MainWindow", "LogoutButton", "button", u"Logout", 340, 65, 70, 20, false},
    {"MainWindow", "RegisterButton", "button", u"Register", 415, 65, 70, 20, false},
    {"MainWindow", "OnlineLabel", "label", u"User:", 390, 93, 102, 20, true},
    {"MainWindow", "OnlineList", "list box", u"", 395, 110, 100, 285, false},
    {"MainWindow", "ChatView", "rich text view", u"", 5, 110, 385, 260, false},
    {"MainWindow", "MessageField", "text field", u"", 5, 375, 300, 20, false},
    {"MainWindow", "SendButton", "default button", u"Senden", 310, 375, 80, 20, false},
    {"ProfileWindow", "AvatarImage", "image control", u"", 5, 5, 100, 100, true},
    {"ProfileWindow", "FirstNameLabel", "label", u"Vorname:", 110, 7, 55, 20, true},
    {"ProfileWindow", "FirstNameField", "text field", u"", 170, 5, 120, 20, true},
    {"ProfileWindow", "SureNameLabel", "label", u"Nachname:", 110, 32, 55, 20, true},
    {"ProfileWindow", "SureNameField", "text field", u"", 170, 30, 120, 20, true},
    {"ProfileWindow", "CountryLabel", "label", u"Land:", 110, 57, 55, 20, true},
    {"ProfileWindow", "CountryField", "text field", u"", 170, 55, 120, 20, true},
    {"ProfileWindow", "CityLabel", "label", u"Stadt:", 110, 82, 55, 20, true},
    {"ProfileWindow", "CityField", "text field", u"", 170, 80, 120, 20, true},
    {"ProfileWindow", "BirthLabel", "label", u"Geburtstag:", 110, 107, 55, 20, true},
    {"ProfileWindow", "BirthField", "text field", u"", 170, 105, 120, 20, true},
    {"ProfileWindow", "HomepageLabel", "label", u"Homepage:", 110, 132, 55, 20, true},
    {"ProfileWindow", "HomepageField", "text field", u"", 170, 130, 120, 20, true},
    {"ProfileWindow", "SignatureLabel", "label", u"Signatur:", 110, 157, 55, 20, true},
    {"ProfileWindow", "SignatureEditor", "multi-line editor", u"", 110, 180, 180, 60, true},
    {"ProfileWindow", "SaveButton", "button", u"Speichern", 5, 250, 70, 20, true},
    {"ProfileWindow", "FlushCacheButton", "button", u"Flush Cache", 5, 225, 70, 20, true},
    {"ProfileWindow", "CloseProfileButton", "button", u"Beenden", 220, 250, 70, 20, true},
    {"ProfileWindow", "SendPrivateButton", "button", u"Nachricht senden", 95, 250, 105, 20, true},
    {"AdminWindow", "AdminPasswordLabel", "label", u"Password:", 5, 7, 50, 20, true},
    {"AdminWindow", "AdminPasswordField", "password field", u"", 60, 5, 80, 20, true},
    {"AdminWindow", "StartAdminButton", "button", u"Start Admin", 145, 5, 70, 20, true},
    {"AdminWindow", "StopAdminButton", "button", u"Stop Admin", 220, 5, 70, 20, true},
    {"AdminWindow", "ChangeAdminPwdButton", "button", u"Change Admin Pwd", 5, 40, 100, 20, true},
    {"AdminWindow", "NewAdminPasswordField", "password field", u"", 110, 40, 180, 20, true},
    {"AdminWindow", "StopServerButton", "button", u"Stop Server", 5, 65, 100, 20, true},
    {"AdminWindow", "TargetUserLabel", "label", u"Username:", 5, 92, 50, 20, true},
    {"AdminWindow", "TargetUserField", "text field", u"", 110, 90, 180, 20, true},
    {"AdminWindow", "KickUserButton", "button", u"Kick User", 5, 115, 100, 20, true},
    {"AdminWindow", "BanUserButton", "button", u"Bann User", 5, 140, 100, 20, true},
    {"AdminWindow", "UnbanUserButton", "button", u"UnBann User", 110, 140, 100, 20, true},
    {"AdminWindow", "KickBanUserButton", "button", u"KickBann User", 5, 165, 100, 20, true},
    {"AdminWindow", "ForceLoginButton", "button", u"ForceLogin", 5, 190, 100, 20, true},
};

// The kind of a control as the user meets it, and its text.
QString KindOf(QWidget *w) {
    if (qobject_cast<QGroupBox *>(w))
        return QStringLiteral("group frame");
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        if (edit->echoMode() == QLineEdit::Password)
            return QStringLiteral("password field");
        return edit->validator() ? QStringLiteral("digits field") : QStringLiteral("text field");
    }
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        return button->isDefault() ? QStringLiteral("default button") : QStringLiteral("button");
    }
    if (qobject_cast<QListWidget *>(w))
        return QStringLiteral("list box");
    if (auto *text = qobject_cast<QPlainTextEdit *>(w)) {
        return text->isReadOnly() ? QStringLiteral("rich text view")
                                  : QStringLiteral("multi-line editor");
    }
    if (auto *label = qobject_cast<QLabel *>(w)) {
        return label->frameShadow() == QFrame::Sunken ? QStringLiteral("image control")
                                                      : QStringLiteral("label");
    }
    return QStringLiteral("unknown");
}

QString TextOf(QWidget *w) {
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *b = qobject_cast<QPushButton *>(w))
        return b->text();
    if (auto *t = qobject_cast<QPlainTextEdit *>(w))
        return t->toPlainText();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    return {};
}

QStringList EnabledOf(std::initializer_list<const char *> names) {
    QStringList enabled;
    for (const char *name : names) {
        QWidget *control = FindControl(QString::fromLatin1(name));
        if (control != nullptr && control->isEnabled()) {
            enabled.append(QString::fromLatin1(name));
        }
    }
    return enabled;
}

}  // namespace

class GuiStartUpTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ClientDeInitDelayMs = 0;
        QCOMPARE(ClientDemo_StartUp(), 1);
    }

    void cleanupTestCase() { ClientDemo_ShutDown(); }

    void onlyMainWindowIsShown() {
        auto *main = FindControl(QStringLiteral("MainWindow"));
        auto *profile = FindControl(QStringLiteral("ProfileWindow"));
        auto *admin = FindControl(QStringLiteral("AdminWindow"));
        QVERIFY(main && profile && admin);
        QVERIFY(main->isVisible());
        QVERIFY(!profile->isVisible());
        QVERIFY(!admin->isVisible());

        QCOMPARE(main->windowTitle(), QStringLiteral("Client Techdemo"));
        QCOMPARE(main->size(), QSize(500, 400));
        QCOMPARE(main->minimumSize(), main->maximumSize());  // not resizable
        const Qt::WindowFlags mainFlags = main->windowFlags();
        QVERIFY(mainFlags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!mainFlags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!mainFlags.testFlag(Qt::WindowMaximizeButtonHint));
        const QRect screen = main->screen()->availableGeometry();
        QVERIFY(qAbs(main->geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(main->geometry().center().y() - screen.center().y()) <= 1);

        for (QWidget *tool : {profile, admin}) {
            QCOMPARE(tool->size(), QSize(300, 300));
            QCOMPARE(tool->minimumSize(), tool->maximumSize());
            QCOMPARE(tool->pos(), QPoint(0, 0));
            const Qt::WindowFlags flags = tool->windowFlags();
            QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);  // no task-bar button
            QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
            QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));
        }
        QCOMPARE(profile->windowTitle(), QStringLiteral("Profil"));
        QCOMPARE(admin->windowTitle(), QStringLiteral("Admin"));
    }

    void controlsAsDesigned_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("enabled");
        for (const ControlRow &row : ControlTable) {
            QTest::newRow(row.Name)
                << QString::fromLatin1(row.Window) << QString::fromLatin1(row.Kind)
                << QString::fromUtf16(row.Text) << QRect(row.X, row.Y, row.Width, row.Height)
                << row.EnabledAtStart;
        }
    }

    void controlsAsDesigned() {
        QFETCH(QString, window);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QFETCH(bool, enabled);
        QWidget *control = FindControl(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control != nullptr);
        QCOMPARE(control->window()->objectName(), window);
        QCOMPARE(control->parentWidget(), control->window());  // frames are siblings, not parents
        QCOMPARE(KindOf(control), kind);
        QCOMPARE(TextOf(control), text);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->isEnabled(), enabled);
        QVERIFY(control->isVisibleTo(control->window()));
    }

    void controlsCreatedInTableOrder() {
        QStringList expected, created;
        for (const ControlRow &row : ControlTable) {
            expected.append(QString::fromLatin1(row.Name));
        }
        for (const char *window : {"MainWindow", "ProfileWindow", "AdminWindow"}) {
            for (QObject *child : FindControl(QString::fromLatin1(window))->children()) {
                if (child->isWidgetType() && !child->objectName().isEmpty()) {
                    created.append(child->objectName());
                }
            }
        }
        QCOMPARE(created, expected);
    }

    void chatControlsBehave() {
        auto *chat = Find<QPlainTextEdit>("ChatView");
        QVERIFY(chat->isReadOnly());
        QVERIFY(chat->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
        QVERIFY(chat->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
        QCOMPARE(chat->maximumBlockCount(), 0);
        auto *list = Find<QListWidget>("OnlineList");
        QVERIFY(!list->isSortingEnabled());
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    }

    void portFieldTakesDigitsOnly() {
        auto *port = Find<QLineEdit>("PortField");
        port->clear();
        QTest::keyClicks(port, QStringLiteral("8a0-b8 1"));
        QCOMPARE(port->text(), QStringLiteral("8081"));
        port->setText(QStringLiteral("7000"));
    }

    void translatorsShowTheirGroupsTexts_data() {
        using Translator = int32_t (*)(int32_t);
        QTest::addColumn<quintptr>("translator");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");  // empty: no box, success
        const auto row = [](const char *tag, Translator t, int code, const char16_t *text) {
            QTest::newRow(tag) << reinterpret_cast<quintptr>(t) << code << QString::fromUtf16(text);
        };
        row("login 1", CheckLoginResult, 1, u"");
        row("login 2", CheckLoginResult, 2, u"Unbekannter Benutzername");
        row("login 3", CheckLoginResult, 3, u"Falsches Passwort");
        row("login 4", CheckLoginResult, 4, u"Benutzername schon eingeloggt");
        row("login 5", CheckLoginResult, 5, u"Schon mit anderem Account eingelogt");
        row("login 6", CheckLoginResult, 6, u"Benutzername gebannt");
        row("login 7", CheckLoginResult, 7, u"");
        row("login -1", CheckLoginResult, -1, u"");
        row("register 2", CheckRegisterResult, 2, u"Benutzername existiert schon");
        row("register 3", CheckRegisterResult, 3, u"Passwort zu kurz");
        row("register 4", CheckRegisterResult, 4, u"Benutzername gebannt");
        row("register 5", CheckRegisterResult, 5,
            u"Benutzername ungültig. Muss aus A-Z, a-z, 0-9 und _ bestehen");
        row("register 6", CheckRegisterResult, 6, u"");
        row("control 2", CheckControlResult, 2, u"Falsches Passwort");
        row("control 3", CheckControlResult, 3, u"Keine Control - Rechte");
        row("control 4", CheckControlResult, 4, u"Unbekannter Benutzername");
        row("control 5", CheckControlResult, 5, u"Benutzer nicht eingeloggt");
        row("control 6", CheckControlResult, 6, u"Du kannst dich nicht selbst kicken");
        row("control 7", CheckControlResult, 7, u"");
        row("avatar 2", CheckAvatarResult, 2, u"Avatar zu groß, max 10 Kb");
        row("avatar 3", CheckAvatarResult, 3, u"Avatar zu groß, max 100x100 Pixel");
        row("avatar 4", CheckAvatarResult, 4,
            u"Avatardatei nicht gefunden, bzw. kann nicht geöffnet werden");
        row("avatar 5", CheckAvatarResult, 5, u"Ungültiges Bildformat");
        row("avatar 6", CheckAvatarResult, 6, u"");
        row("logout 1", CheckLogoutResult, 1, u"");
        row("logout 2", CheckLogoutResult, 2, u"");
        row("result 1", CheckResult, 1, u"");
        row("result 3", CheckResult, 3, u"");
        row("result -5", CheckResult, -5, u"");
    }

    void translatorsShowTheirGroupsTexts() {
        QFETCH(quintptr, translator);
        QFETCH(int, code);
        QFETCH(QString, text);
        auto check = reinterpret_cast<int32_t (*)(int32_t)>(translator);
        int32_t result = -1;
        const QList<SeenBox> boxes = AnswerBoxesDuring([&] { result = check(code); });
        if (text.isEmpty()) {
            QCOMPARE(boxes.size(), 0);
            QCOMPARE(result, 1);
            return;
        }
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(result, 0);
        QCOMPARE(boxes[0].Title, QStringLiteral("Fehler"));
        QCOMPARE(boxes[0].Text, text);
        QCOMPARE(boxes[0].Icon, QMessageBox::NoIcon);
        QCOMPARE(boxes[0].ButtonCount, 1);
    }

    void codeZeroShowsTheLastErrorText() {
        // A failed connect leaves the library's reason in the last error text.
        QCOMPARE(Connect("127.0.0.1", ClosedPort(), "", 0, "", "", 0, 5), intptr_t(0));
        const std::string lastError = GetLastErrorText();
        QVERIFY(!lastError.empty());
        for (auto *check : {CheckLoginResult, CheckRegisterResult, CheckControlResult,
                            CheckAvatarResult, CheckLogoutResult, CheckResult}) {
            int32_t result = -1;
            const QList<SeenBox> boxes = AnswerBoxesDuring([&] { result = check(0); });
            QCOMPARE(result, 0);
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].Title, QStringLiteral("Fehler"));
            QCOMPARE(boxes[0].Text, QString::fromLatin1(lastError.c_str()));
        }
    }

    void boxIsOwnedByTheActiveWindowAndDisablesTheOthers() {
        QWidget *main = FindControl(QStringLiteral("MainWindow"));
        QWidget *admin = FindControl(QStringLiteral("AdminWindow"));
        ShowAdminWindow(1);
        main->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main);
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { CheckLoginResult(3); });
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].Owner, main);
        QCOMPARE(boxes[0].DisabledWindows, QStringList{QStringLiteral("AdminWindow")});
        QVERIFY(admin->isEnabled());  // enabled again after the box closed
        QVERIFY(main->isEnabled());
        ShowAdminWindow(0);
        QVERIFY(!admin->isVisible());
    }

    void controlStateOperations() {
        const auto mainControls = {
            "UserField",  "PassField", "LoginButton",   "LogoutButton",    "RegisterButton",
            "OnlineList", "ChatView",  "MessageField",  "SendButton",      "AdministrateButton",
            "HostField",  "PortField", "ConnectButton", "DisconnectButton"};
        const QStringList always{"HostField", "PortField", "ConnectButton", "DisconnectButton"};

        SetConnectionControls(1);
        QCOMPARE(EnabledOf(mainControls), QStringList({"UserField", "PassField", "LoginButton",
                                                       "LogoutButton", "RegisterButton"}) +
                                              always);
        SetLoginControls(1);
        QCOMPARE(EnabledOf(mainControls),
                 QStringList({"UserField", "PassField", "LoginButton", "LogoutButton", "OnlineList",
                              "ChatView", "MessageField", "SendButton", "AdministrateButton"}) +
                     always);
        SetConnectionControls(0);
        QCOMPARE(EnabledOf(mainControls), always);

        const auto adminCommands = {
            "ChangeAdminPwdButton", "NewAdminPasswordField", "StopServerButton",
            "TargetUserField",      "KickUserButton",        "BanUserButton",
            "UnbanUserButton",      "KickBanUserButton",     "ForceLoginButton"};
        SetAdminControls(1);
        QCOMPARE(EnabledOf(adminCommands).size(), 9);
        Find<QLineEdit>("AdminPasswordField")->setText(QStringLiteral("x"));
        Find<QLineEdit>("NewAdminPasswordField")->setText(QStringLiteral("y"));
        ShowAdminWindow(1);  // every opening: empty password fields, commands disabled
        QVERIFY(FindControl(QStringLiteral("AdminWindow"))->isVisible());
        QCOMPARE(EnabledOf(adminCommands), QStringList());
        QVERIFY(Find<QLineEdit>("AdminPasswordField")->text().isEmpty());
        QVERIFY(Find<QLineEdit>("NewAdminPasswordField")->text().isEmpty());
        QCOMPARE(EnabledOf({"AdminPasswordField", "StartAdminButton", "StopAdminButton"}).size(),
                 3);

        const auto profileControls = {"SendPrivateButton", "FlushCacheButton", "FirstNameField",
                                      "SignatureEditor",   "AvatarImage",      "SaveButton",
                                      "CloseProfileButton"};
        ShowProfileWindow(1, 1);
        QVERIFY(FindControl(QStringLiteral("ProfileWindow"))->isVisible());
        QCOMPARE(EnabledOf(profileControls),
                 QStringList({"FirstNameField", "SignatureEditor", "AvatarImage", "SaveButton",
                              "CloseProfileButton"}));
        ShowProfileWindow(1, 0);
        QCOMPARE(EnabledOf(profileControls),
                 QStringList({"SendPrivateButton", "FlushCacheButton", "CloseProfileButton"}));
        QCOMPARE(Find<QLineEdit>("CityField")->palette().color(QPalette::Disabled, QPalette::Base),
                 QColor(Qt::white));

        SetLoginControls(0);  // hides both tool windows
        QVERIFY(!FindControl(QStringLiteral("ProfileWindow"))->isVisible());
        QVERIFY(!FindControl(QStringLiteral("AdminWindow"))->isVisible());
        SetConnectionControls(0);
    }

    void toolWindowsRefuseToClose() {
        QWidget *profile = FindControl(QStringLiteral("ProfileWindow"));
        ShowProfileWindow(1, 0);
        QVERIFY(!profile->close());
        QVERIFY(profile->isVisible());
        ShowProfileWindow(0, 0);
    }

    // Last: closing MainWindow ends the event loop, even with a tool window shown.
    void closeBoxEndsTheEventLoop() {
        ShowAdminWindow(1);
        QTimer::singleShot(0, [] { FindControl(QStringLiteral("MainWindow"))->close(); });
        QTimer guard;  // against a hang
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(GuiStartUpTests)
#include "tst_gui_startup.moc"
