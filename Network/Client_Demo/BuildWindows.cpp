// The three windows and their frames. The controls of each window are created by the Build*Controls
// procedures in their own files, in the fixed creation order.
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "Network/Client_Demo/ControlFactory.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/WindowWidgets.h"
#include "Network/Common/CurrentLocation.h"

ControlsRecord Controls;

namespace {

// The controls are laid out in pixels for a small, narrow dialog font; use one of that size (and a
// condensed face where the system has one) so that their texts fit on every platform.
void UseDialogFont(QWidget *window) {
    QFont font = window->font();
    font.setPixelSize(11);
    font.setStretch(QFont::Condensed);
    window->setFont(font);
}

QWidget *OpenMainWindow() {
    auto *window = new MainWindowWidget();
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowTitle(QStringLiteral("Client Techdemo"));
    window->setFixedSize(500, 400);
    UseDialogFont(window);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                                screen->availableGeometry()));
    }
    return window;
}

QWidget *OpenToolWindow(const char *name, const QString &title) {
    auto *window = new ToolWindowWidget();
    window->setObjectName(QString::fromLatin1(name));
    window->setWindowTitle(title);
    window->setFixedSize(300, 300);
    UseDialogFont(window);
    window->move(0, 0);
    return window;
}

}  // namespace

void BuildWindows() {
    RecordLocation();
    Controls.MainWindow = OpenMainWindow();
    Controls.ProfileWindow = OpenToolWindow("ProfileWindow", QStringLiteral("Profil"));
    Controls.AdminWindow = OpenToolWindow("AdminWindow", QStringLiteral("Admin"));

    UseParentWindow(Controls.MainWindow);
    BuildMainWindowControls();
    UseParentWindow(Controls.ProfileWindow);
    BuildProfileWindowControls();
    UseParentWindow(Controls.AdminWindow);
    BuildAdminWindowControls();
    UseParentWindow(nullptr);
}

void DestroyWindows() {
    delete Controls.AdminWindow;
    delete Controls.ProfileWindow;
    delete Controls.MainWindow;
    Controls = ControlsRecord{};
}
