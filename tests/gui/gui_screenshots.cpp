// Writes pictures of the three windows, as a logged-in administrator sees them, for the
// documentation: gui_screenshots FOLDER (on the offscreen platform unless another is chosen).
// The windows are filled through the same operations the handlers and workers use; no server is
// needed.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QWidget>
#include <cstdio>

#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/ProfileDisplay.h"
#include "Network/Client_Demo/Workers.h"

namespace {

std::unique_ptr<Picture> SampleAvatar() {
    auto picture = std::make_unique<Picture>();
    picture->Width = 64;
    picture->Height = 64;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool face = (x - 32) * (x - 32) + (y - 30) * (y - 30) < 24 * 24;
            const bool eye = (y > 20 && y < 28) && ((x > 20 && x < 27) || (x > 37 && x < 44));
            const bool mouth = y > 38 && y < 42 && x > 22 && x < 42;
            picture->Pixels.push_back(eye || mouth ? 0xFF303030u
                                      : face       ? 0xFFF2C14Eu
                                                   : 0xFF5B8DD6u);
        }
    }
    return picture;
}

bool Save(QWidget *window, const QDir &folder, const char *name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    const bool saved = window->grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (ClientDemo_StartUp() != 1) {
        return 1;
    }
    MainWindowControls &m = Controls.Main;
    m.UserField->setText(QStringLiteral("alice"));
    m.PassField->setText(QStringLiteral("secret"));
    SetConnectionControls(1);
    SetLoginControls(1);
    PostOnlineNames({QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol"),
                     QStringLiteral("dave_42")});
    PostChatLines({QStringLiteral("bob: Hallo zusammen!"),
                   QStringLiteral("carol: Hi bob, wie geht's?"),
                   QStringLiteral("bob: Gut, danke. Wer kommt heute Abend?"),
                   QStringLiteral("dave_42: Ich bin dabei.")});
    m.MessageField->setText(QStringLiteral("Ich auch!"));
    QCoreApplication::sendPostedEvents();

    FrontEndState.ShownAvatar = SampleAvatar();
    ProfileWindowControls &p = Controls.Profile;
    p.FirstNameField->setText(QStringLiteral("Alice"));
    p.SureNameField->setText(QString::fromUtf8("Müller"));
    p.CountryField->setText(QStringLiteral("Deutschland"));
    p.CityField->setText(QString::fromUtf8("Köln"));
    p.BirthField->setText(QStringLiteral("12.04.1994"));
    p.HomepageField->setText(QStringLiteral("alice.example.org"));
    p.SignatureEditor->setPlainText(QStringLiteral("Viele Grüße\nAlice"));
    ShowAvatarImage();
    ShowProfileWindow(1, 1);

    ShowAdminWindow(1);
    SetAdminControls(1);
    Controls.Admin.TargetUserField->setText(QStringLiteral("dave_42"));
    QCoreApplication::processEvents();

    const bool saved = Save(Controls.MainWindow, folder, "main-window.png") &&
                       Save(Controls.ProfileWindow, folder, "profile-window.png") &&
                       Save(Controls.AdminWindow, folder, "admin-window.png");
    ClientDemo_ShutDown();
    return saved ? 0 : 1;
}
