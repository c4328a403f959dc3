// Every MainWindow and ProfileWindow handler against a real community server, with a second user
// (bob) in a process of its own.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <QLabel>
#include "GuiTestSupport.h"
#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/FrontEndState.h"

namespace {

void SetText(const char *name, const QString &text) {
    Find<QLineEdit>(name)->setText(text);
}
QString TextOf(const char *name) {
    return Find<QLineEdit>(name)->text();
}
bool IsEnabled(const char *name) {
    return FindControl(QString::fromLatin1(name))->isEnabled();
}
bool IsShown(const char *name) {
    return FindControl(QString::fromLatin1(name))->isVisible();
}

QStringList OnlineNames() {
    QStringList names;
    auto *list = Find<QListWidget>("OnlineList");
    for (int i = 0; i < list->count(); ++i) {
        names.append(list->item(i)->text());
    }
    return names;
}

// A left double-click on the user's entry of OnlineList, as the user makes it. The list is
// refilled every 2.5 s, so the click is repeated until the profile of that user is shown.
bool ShowProfileOf(const QString &user) {
    if (IsShown("ProfileWindow")) {
        Click("CloseProfileButton");
    }
    auto *list = Find<QListWidget>("OnlineList");
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QList<QListWidgetItem *> items = list->findItems(user, Qt::MatchExactly);
        if (!items.isEmpty()) {
            const QPoint at = list->visualItemRect(items[0]).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            if (IsShown("ProfileWindow") && FrontEndState.SelectedUser == user.toStdString()) {
                return true;
            }
        }
        QTest::qWait(200);
    }
    return false;
}

void DoubleClickAvatar() {
    QWidget *avatar = FindControl(QStringLiteral("AvatarImage"));
    QTest::mouseDClick(avatar, Qt::LeftButton, {}, QPoint(50, 50));
}

// Selects the file and types its path into the requester's file name field, as a user does, and
// opens it. (A shown requester leaves its focused name field alone on selectFile, and keeps the
// previous selection in its list unless a new one is made.)
void OpenInRequester(QFileDialog *dialog, const QString &path) {
    auto *fileName = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(fileName != nullptr);
    dialog->selectFile(path);
    fileName->setText(path);
    static_cast<QDialog *>(dialog)->accept();
}

const QColor AliceColour(200, 30, 30);
const QColor BobColour(30, 160, 40);

QString MakePicture(const QTemporaryDir &dir, const QString &name, QSize size,
                    QColor colour = AliceColour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    const QString path = dir.filePath(name);
    return image.save(path, "PNG") ? path : QString();
}

// The colour AvatarImage shows a little inside its border, as drawn on the screen.
QColor ShownAvatarColour() {
    return FindControl(QStringLiteral("AvatarImage"))->grab().toImage().pixelColor(8, 8);
}

}  // namespace

class GuiHandlerTests : public QObject {
    Q_OBJECT

    TestServer Server;
    PeerClient Bob;
    QTemporaryDir Pictures;

    // Collects what bob receives until the line arrives (ten seconds at most).
    bool BobReceives(const QString &line) {
        QString received;
        for (int attempt = 0; attempt < 50; ++attempt) {
            received += QStringLiteral(" | ") + Bob.Command(QStringLiteral("receive"));
            if (received.split(QStringLiteral(" | ")).contains(line)) {
                return true;
            }
            QTest::qWait(200);
        }
        qWarning("bob received: %s", qPrintable(received));
        return false;
    }

private slots:
    void initTestCase() {
        QVERIFY(Server.Start());
        QVERIFY(Bob.Start());
        const QString port = QString::number(Server.Port());
        QCOMPARE(Bob.Command(QStringLiteral("connect 127.0.0.1 ") + port), QStringLiteral("1"));
        QCOMPARE(Bob.Command(QStringLiteral("register bob bobpass1")), QStringLiteral("1"));
        QCOMPARE(Bob.Command(QStringLiteral("login bob bobpass1")), QStringLiteral("1"));
        QCOMPARE(Bob.Command(QStringLiteral("setprofile Bob|Builder|UK|Leeds|1.1.1980||"
                                            "Can we fix it?\\r\\nYes we can")),
                 QStringLiteral("1"));
        ClientDeInitDelayMs = 0;
        QCOMPARE(ClientDemo_StartUp(), 1);
    }

    void cleanupTestCase() { ClientDemo_ShutDown(); }

    // Each frame's top line runs through the middle of its title, above the controls inside it:
    // where they sit, the frame itself draws nothing.
    void framesDrawNothingWhereTheirControlsSit() {
        const QList<QPair<const char *, QStringList>> rows = {
            {"ServerFrame",
             {"HostLabel", "HostField", "PortLabel", "PortField", "AdministrateButton",
              "ConnectButton", "DisconnectButton"}},
            {"UserFrame",
             {"UserLabel", "UserField", "PassLabel", "PassField", "LoginButton", "LogoutButton",
              "RegisterButton"}}};
        for (const auto &[frameName, controls] : rows) {
            QWidget *frame = FindControl(QString::fromLatin1(frameName));
            const QImage drawn = frame->grab().toImage();
            const QColor empty = drawn.pixelColor(frame->width() / 2, frame->height() / 2);
            for (const QString &name : controls) {
                const QRect place = FindControl(name)->geometry().translated(-frame->pos());
                QVERIFY2(frame->rect().contains(place), qPrintable(name));
                for (int y = place.top(); y <= place.bottom(); ++y) {
                    for (int x = place.left(); x <= place.right(); ++x) {
                        QVERIFY2(drawn.pixelColor(x, y) == empty,
                                 qPrintable(QStringLiteral("%1 at %2,%3").arg(name).arg(x).arg(y)));
                    }
                }
            }
        }
    }

    void failedConnectShowsNothing() {
        SetText("HostField", QStringLiteral("127.0.0.1"));
        SetText("PortField", QString::number(ClosedPort()));
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("ConnectButton"); });
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(FrontEndState.Connected, 0);
        QVERIFY(!IsEnabled("UserField"));
        QVERIFY(!IsEnabled("RegisterButton"));
    }

    void connectEnablesTheAccountControls() {
        SetText("PortField", QString::number(Server.Port()));
        Click("ConnectButton");
        QCOMPARE(FrontEndState.Connected, 1);
        for (const char *name :
             {"UserField", "PassField", "LoginButton", "LogoutButton", "RegisterButton"}) {
            QVERIFY2(IsEnabled(name), name);
        }
        for (const char *name : {"OnlineList", "ChatView", "MessageField", "SendButton"}) {
            QVERIFY2(!IsEnabled(name), name);
        }
    }

    void refusedRegistrationDoesNotLogIn_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("invalid name") << "bad name"
                                      << "secret12" << 5
                                      << QString::fromUtf8(
                                             "Benutzername ungültig. Muss aus A-Z, "
                                             "a-z, 0-9 und _ bestehen");
        QTest::newRow("short password") << "dave"
                                        << "abc" << 3 << "Passwort zu kurz";
        QTest::newRow("existing name") << "bob"
                                       << "another1" << 2 << "Benutzername existiert schon";
    }

    void refusedRegistrationDoesNotLogIn() {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(int, code);
        QFETCH(QString, text);
        SetText("UserField", name);
        SetText("PassField", password);
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("RegisterButton"); });
        QCOMPARE(boxes.size(), 1);  // the registration's message only: no login was tried
        QCOMPARE(boxes[0].Title, QStringLiteral("Fehler"));
        QCOMPARE(boxes[0].Text, text);
        QCOMPARE(FrontEndState.LastReplyCode, code);
        QCOMPARE(FrontEndState.LoggedIn.load(), 0);
        QVERIFY(IsEnabled("RegisterButton"));
        QVERIFY(!IsEnabled("MessageField"));
    }

    void refusedLoginShowsItsText_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown user") << "nobody"
                                      << "secret12"
                                      << "Unbekannter Benutzername";
        QTest::newRow("wrong password") << "bob"
                                        << "wrong123"
                                        << "Falsches Passwort";
        QTest::newRow("logged in elsewhere") << "bob"
                                             << "bobpass1"
                                             << "Benutzername schon eingeloggt";
    }

    void refusedLoginShowsItsText() {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, text);
        SetText("UserField", name);
        SetText("PassField", password);
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("LoginButton"); });
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].Text, text);
        QCOMPARE(FrontEndState.LoggedIn.load(), 0);
        QCOMPARE(FrontEndState.LoginName, name.toStdString());
    }

    void registrationLogsInAtOnce() {
        SetText("UserField", QStringLiteral("alice"));
        SetText("PassField", QStringLiteral("alicepw1"));
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("RegisterButton"); });
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(FrontEndState.LoggedIn.load(), 1);
        QCOMPARE(FrontEndState.LoginName, std::string("alice"));
        QVERIFY(!IsEnabled("RegisterButton"));
        for (const char *name :
             {"OnlineList", "ChatView", "MessageField", "SendButton", "AdministrateButton"}) {
            QVERIFY2(IsEnabled(name), name);
        }
    }

    void onlineListShowsWhoIsOnline() {
        QTRY_VERIFY_WITH_TIMEOUT(OnlineNames().contains(QStringLiteral("alice")) &&
                                     OnlineNames().contains(QStringLiteral("bob")),
                                 10000);
    }

    void receivedMessagesAppearAsPlainText() {
        QCOMPARE(Bob.Command(QStringLiteral("global <b>bold</b> & <i>")), QStringLiteral("1"));
        QCOMPARE(Bob.Command(QStringLiteral("private alice second")), QStringLiteral("1"));
        auto *chat = Find<QPlainTextEdit>("ChatView");
        QTRY_VERIFY_WITH_TIMEOUT(chat->toPlainText().contains(QStringLiteral("bob: second")),
                                 10000);
        const QStringList lines = chat->toPlainText().split(QLatin1Char('\n'));
        const qsizetype first = lines.indexOf(QStringLiteral("bob: <b>bold</b> & <i>"));
        QVERIFY2(first >= 0, qPrintable(chat->toPlainText()));
        QCOMPARE(lines.indexOf(QStringLiteral("bob: second")), first + 1);  // in arrival order
    }

    void sendButtonSendsAndEmptiesTheField() {
        SetText("MessageField", QString::fromUtf8("Grüße an alle"));
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("SendButton"); });
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(FrontEndState.LastReplyCode, 1);
        QVERIFY(TextOf("MessageField").isEmpty());
        // The text travels as Windows-1252 bytes.
        QVERIFY(BobReceives(QStringLiteral("alice: Gr\\xFC\\xDFe an alle")));
    }

    void sendButtonWithEmptyFieldSendsNothing() {
        SetText("MessageField", QString());
        FrontEndState.LastReplyCode = -77;
        Click("SendButton");
        QCOMPARE(FrontEndState.LastReplyCode, -77);
    }

    void privateMessageThroughTheInputRequester() {
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QVERIFY(IsEnabled("SendPrivateButton"));
        bool checked = false;
        const bool answered = RespondToDialogDuring<QInputDialog>(
            [] { Click("SendPrivateButton"); },
            [&checked](QInputDialog *dialog) {
                checked = dialog->windowTitle() == QStringLiteral("Nachricht senden") &&
                          dialog->labelText() == QStringLiteral("Nachricht an bob senden") &&
                          dialog->textValue().isEmpty();
                auto *buttons = dialog->findChild<QDialogButtonBox *>();
                QPushButton *cancel = buttons ? buttons->button(QDialogButtonBox::Cancel) : nullptr;
                checked = checked && (cancel == nullptr || !cancel->isVisible());
                dialog->setTextValue(QStringLiteral("psst"));
                dialog->accept();
            });
        QVERIFY(answered);
        QVERIFY(checked);
        QCOMPARE(FrontEndState.LastReplyCode, 1);
        QVERIFY(BobReceives(QStringLiteral("alice: psst")));
    }

    void closedOrEmptyInputRequesterSendsNothing() {
        QVERIFY(IsShown("ProfileWindow"));
        for (bool accept : {false, true}) {
            FrontEndState.LastReplyCode = -77;
            QVERIFY(RespondToDialogDuring<QInputDialog>(
                [] { Click("SendPrivateButton"); },
                [accept](QInputDialog *dialog) { accept ? dialog->accept() : dialog->reject(); }));
            QCOMPARE(FrontEndState.LastReplyCode, -77);
        }
    }

    void anotherUsersProfileIsShownReadOnly() {
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QCOMPARE(FrontEndState.OwnProfileShown, 0);
        QCOMPARE(TextOf("FirstNameField"), QStringLiteral("Bob"));
        QCOMPARE(TextOf("SureNameField"), QStringLiteral("Builder"));
        QCOMPARE(TextOf("CityField"), QStringLiteral("Leeds"));
        QCOMPARE(TextOf("HomepageField"), QString());
        QCOMPARE(Find<QPlainTextEdit>("SignatureEditor")->toPlainText(),
                 QStringLiteral("Can we fix it?\nYes we can"));
        for (const char *name :
             {"FirstNameField", "SignatureEditor", "AvatarImage", "SaveButton"}) {
            QVERIFY2(!IsEnabled(name), name);
        }
        QVERIFY(IsEnabled("FlushCacheButton"));
        QVERIFY(Find<QLabel>("AvatarImage")->pixmap().isNull());
    }

    void flushCacheFetchesTheProfileAgain() {
        QCOMPARE(Bob.Command(QStringLiteral("setprofile Bob|Builder|UK|York|1.1.1980||")),
                 QStringLiteral("1"));
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QCOMPARE(TextOf("CityField"), QStringLiteral("Leeds"));  // still the cached text
        Click("FlushCacheButton");
        QCOMPARE(TextOf("CityField"), QStringLiteral("York"));
        QVERIFY(Find<QPlainTextEdit>("SignatureEditor")->toPlainText().isEmpty());
        QVERIFY(IsShown("ProfileWindow"));
    }

    void ownProfileIsEditedSavedAndShownAgain() {
        QVERIFY(ShowProfileOf(QStringLiteral("alice")));
        QCOMPARE(FrontEndState.OwnProfileShown, 1);
        QVERIFY(IsEnabled("SaveButton"));
        QVERIFY(!IsEnabled("FlushCacheButton"));
        QVERIFY(!IsEnabled("SendPrivateButton"));
        SetText("FirstNameField", QStringLiteral("Anna"));
        SetText("SureNameField", QString::fromUtf8("Müller"));
        SetText("CountryField", QStringLiteral("DE"));
        SetText("CityField", QString::fromUtf8("Köln"));
        SetText("BirthField", QStringLiteral("2.3.1995"));
        SetText("HomepageField", QString());
        Find<QPlainTextEdit>("SignatureEditor")->setPlainText(QStringLiteral("Zeile 1\nZeile 2"));
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("SaveButton"); });
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(FrontEndState.LastReplyCode, 1);

        // On the wire: Windows-1252, LF CR line ends, the signature's lines joined by CR LF.
        QCOMPARE(Bob.Command(QStringLiteral("getprofile alice")),
                 QStringLiteral("VERSION 1\\n\\rFirstName: Anna\\n\\rSureName: M\\xFCller\\n\\r"
                                "Country: DE\\n\\rCity: K\\xF6ln\\n\\rBirth: 2.3.1995\\n\\r"
                                "Homepage: \\n\\rSignature: Zeile 1\\r\\nZeile 2"));

        Click("CloseProfileButton");
        QVERIFY(!IsShown("ProfileWindow"));
        QVERIFY(ShowProfileOf(QStringLiteral("alice")));
        QCOMPARE(TextOf("SureNameField"), QString::fromUtf8("Müller"));
        QCOMPARE(TextOf("CityField"), QString::fromUtf8("Köln"));
        QCOMPARE(Find<QPlainTextEdit>("SignatureEditor")->toPlainText(),
                 QStringLiteral("Zeile 1\nZeile 2"));
    }

    void avatarIsChosenThroughTheFileRequester() {
        QVERIFY(IsShown("ProfileWindow") && FrontEndState.OwnProfileShown == 1);
        const QString small = MakePicture(Pictures, QStringLiteral("small.png"), {40, 30});
        const QString wide = MakePicture(Pictures, QStringLiteral("wide.png"), {101, 100});
        QVERIFY(!small.isEmpty() && !wide.isEmpty());

        // Cancelled: nothing sent, no default file for the next requester.
        FrontEndState.LastReplyCode = -77;
        QVERIFY(RespondToDialogDuring<QFileDialog>(DoubleClickAvatar,
                                                   [](QFileDialog *d) { d->reject(); }));
        QCOMPARE(FrontEndState.LastReplyCode, -77);
        QVERIFY(FrontEndState.AvatarFile.empty());

        bool standardRequester = false;
        QVERIFY(RespondToDialogDuring<QFileDialog>(DoubleClickAvatar, [&](QFileDialog *d) {
            standardRequester = d->windowTitle() == QString::fromUtf8("Avatar wählen") &&
                                d->testOption(QFileDialog::DontUseNativeDialog);
            OpenInRequester(d, small);
        }));
        QVERIFY(standardRequester);
        QCOMPARE(FrontEndState.LastReplyCode, 1);
        QCOMPARE(QString::fromStdString(FrontEndState.AvatarFile), small);
        QCOMPARE(Find<QLabel>("AvatarImage")->pixmap().size(), QSize(40, 30));

        // Too wide: refused before sending; the requester opened on the previous file.
        QString defaultFile;
        QList<SeenBox> boxes;
        QVERIFY(RespondToDialogDuring<QFileDialog>(
            [&boxes] { boxes = AnswerBoxesDuring(DoubleClickAvatar); },
            [&](QFileDialog *d) {
                defaultFile = d->selectedFiles().value(0);
                OpenInRequester(d, wide);
            }));
        QCOMPARE(defaultFile, small);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].Text, QStringLiteral("Avatar zu groß, max 100x100 Pixel"));
        QCOMPARE(Find<QLabel>("AvatarImage")->pixmap().size(), QSize(40, 30));
    }

    void profileWithoutAvatarClearsThePicture() {
        QVERIFY(!Find<QLabel>("AvatarImage")->pixmap().isNull());
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QVERIFY(Find<QLabel>("AvatarImage")->pixmap().isNull());
    }

    // Another user's profile is read-only, its controls disabled, but the avatar keeps its colours.
    void anotherUsersAvatarIsDrawnAsItIs() {
        const QString green = MakePicture(Pictures, QStringLiteral("bob.png"), {60, 50}, BobColour);
        QCOMPARE(Bob.Command(QStringLiteral("setavatar ") + green), QStringLiteral("1"));
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QVERIFY(!IsEnabled("AvatarImage"));
        QCOMPARE(Find<QLabel>("AvatarImage")->pixmap().size(), QSize(60, 50));
        QCOMPARE(ShownAvatarColour(), BobColour);
    }

    void failedLoginWhileLoggedInKeepsTheLogin() {
        Click("AdministrateButton");
        QVERIFY(IsShown("AdminWindow"));
        SetText("UserField", QStringLiteral("bob"));
        SetText("PassField", QStringLiteral("bobpass1"));
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("LoginButton"); });
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(FrontEndState.LoggedIn.load(), 1);
        QVERIFY(!IsShown("AdminWindow"));
        QVERIFY(!IsShown("ProfileWindow"));
        QVERIFY(IsEnabled("SendButton"));
    }

    void refusedLoginKeepsTheOwnProfileEditable() {
        QCOMPARE(FrontEndState.LoginName, std::string("alice"));
        QVERIFY(ShowProfileOf(QStringLiteral("alice")));
        QCOMPARE(FrontEndState.OwnProfileShown, 1);
        QVERIFY(IsEnabled("SaveButton"));
        QVERIFY(IsEnabled("FirstNameField"));
        QCOMPARE(ShownAvatarColour(), AliceColour);  // the own avatar is now cached
        Click("CloseProfileButton");
    }

    void selectionSurvivesARefresh() {
        auto *list = Find<QListWidget>("OnlineList");
        const QList<QListWidgetItem *> bob =
            list->findItems(QStringLiteral("bob"), Qt::MatchExactly);
        QVERIFY(!bob.isEmpty());
        list->setCurrentItem(bob[0]);
        const QListWidgetItem *before = list->item(0);
        // Every refresh makes new items: wait for the next one.
        QTRY_VERIFY_WITH_TIMEOUT(list->item(0) != before, 10000);
        const QList<QListWidgetItem *> selected = list->selectedItems();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0]->text(), QStringLiteral("bob"));
    }

    // After a forced login the own profile is that of the account taken over, avatar included,
    // not the one cached for the account logged in before.
    void forcedLoginShowsTheNewAccountsAvatar() {
        Click("AdministrateButton");
        SetText("AdminPasswordField", TestServer::AdminPassword());
        QCOMPARE(AnswerBoxesDuring([] { Click("StartAdminButton"); }).size(), 0);
        SetText("TargetUserField", QStringLiteral("bob"));
        QCOMPARE(AnswerBoxesDuring([] { Click("ForceLoginButton"); }).size(), 0);
        QCOMPARE(FrontEndState.LoginName, std::string("bob"));
        QVERIFY(ShowProfileOf(QStringLiteral("bob")));
        QCOMPARE(FrontEndState.OwnProfileShown, 1);
        QCOMPARE(ShownAvatarColour(), BobColour);
        QCOMPARE(TextOf("FirstNameField"), QStringLiteral("Bob"));
        Click("CloseProfileButton");
    }

    void logoutKeepsTheOldContents() {
        const QList<SeenBox> boxes = AnswerBoxesDuring([] { Click("LogoutButton"); });
        QCOMPARE(boxes.size(), 0);
        QCOMPARE(FrontEndState.LoggedIn.load(), 0);
        QVERIFY(!IsEnabled("OnlineList"));
        QVERIFY(!IsEnabled("ChatView"));
        QVERIFY(IsEnabled("RegisterButton"));
        QVERIFY(OnlineNames().contains(QStringLiteral("bob")));
        QVERIFY(Find<QPlainTextEdit>("ChatView")->toPlainText().contains(QStringLiteral("bob: ")));
    }

    void disconnectReturnsToTheStartState() {
        Click("DisconnectButton");
        QCOMPARE(FrontEndState.Connected, 0);
        for (const char *name : {"UserField", "PassField", "LoginButton", "RegisterButton"}) {
            QVERIFY2(!IsEnabled(name), name);
        }
        QVERIFY(IsEnabled("ConnectButton"));
    }
};

QTEST_MAIN(GuiHandlerTests)
#include "tst_gui_handlers.moc"
