#include "GuiTestSupport.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

TestServer::~TestServer() {
    Stop();
}

bool TestServer::Start() {
    const QString passwordFile = Folder.filePath(QStringLiteral("admin-password"));
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(AdminPassword().toUtf8() + "\n");
    file.close();

    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(QStringLiteral(COMMUNITY_SERVER_PATH),
                  {QStringLiteral("--bind"),
                   QStringLiteral("127.0.0.1"),
                   QStringLiteral("--port"),
                   QStringLiteral("0"),
                   QStringLiteral("--db"),
                   Folder.filePath(QStringLiteral("store.db")),
                   QStringLiteral("--admin-password-file"),
                   passwordFile,
                   QStringLiteral("--hash-ops"),
                   QStringLiteral("1"),
                   QStringLiteral("--hash-memory-kib"),
                   QStringLiteral("8"),
                   QStringLiteral("--flood-burst"),
                   QStringLiteral("1000"),
                   QStringLiteral("--registration-burst"),
                   QStringLiteral("10000"),
                   QStringLiteral("--address-flood-burst"),
                   QStringLiteral("100000"),
                   QStringLiteral("--hash-slots"),
                   QStringLiteral("256")});
    if (!Process.waitForStarted(10000)) {
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on [^:\\s]+:(\\d+)"));
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        Process.waitForReadyRead(100);
        CollectedOutput += QString::fromUtf8(Process.readAll());
        const QRegularExpressionMatch match = listening.match(CollectedOutput);
        if (match.hasMatch()) {
            ServerPort = match.captured(1).toInt();
            return true;
        }
        if (Process.state() == QProcess::NotRunning) {
            return false;
        }
    }
    return false;
}

void TestServer::Stop() {
    if (Process.state() != QProcess::NotRunning) {
        Process.terminate();
        if (!Process.waitForFinished(10000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
}

bool TestServer::IsRunning() const {
    return Process.state() != QProcess::NotRunning;
}

bool TestServer::WaitForExit(int milliseconds) {
    return Process.state() == QProcess::NotRunning || Process.waitForFinished(milliseconds);
}

PeerClient::~PeerClient() {
    if (Process.state() != QProcess::NotRunning) {
        Process.write("quit\n");
        if (!Process.waitForFinished(10000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
}

bool PeerClient::Start() {
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start(QStringLiteral(GUI_PEER_PATH), {});
    return Process.waitForStarted(10000);
}

QString PeerClient::Command(const QString &line) {
    Process.write(line.toUtf8() + "\n");
    const QDeadlineTimer deadline(20000);
    while (!Process.canReadLine() && !deadline.hasExpired() &&
           Process.state() != QProcess::NotRunning) {
        Process.waitForReadyRead(100);
    }
    return QString::fromUtf8(Process.readLine()).trimmed();
}

namespace {

QStringList DisabledProgramWindows() {
    QStringList names;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !window->isEnabled() && !window->objectName().isEmpty()) {
            names.append(window->objectName());
        }
    }
    names.sort();
    return names;
}

}  // namespace

QList<SeenBox> AnswerBoxesDuring(const std::function<void()> &action) {
    QList<SeenBox> seen;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&seen] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(window);
            if (box == nullptr || !box->isVisible()) {
                continue;
            }
            SeenBox record;
            record.Title = box->windowTitle();
            record.Text = box->text();
            record.Icon = box->icon();
            record.ButtonCount = static_cast<int>(box->buttons().size());
            record.Owner = box->parentWidget();
            record.DisabledWindows = DisabledProgramWindows();
            seen.append(record);
            if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else {
                box->reject();
            }
        }
    });
    timer.start();
    action();
    timer.stop();
    return seen;
}

bool RespondDuring(const std::function<void()> &action,
                   const std::function<bool(QWidget *)> &respond) {
    bool answered = false;
    bool leftOpen = false;
    QElapsedTimer sinceAnswer;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (answered) {
            // A response that did not close its dialog must fail the test, not hang it.
            auto *open = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (open != nullptr && sinceAnswer.elapsed() > 5000) {
                qWarning("a dialog was left open after the response: %s",
                         qPrintable(open->windowTitle()));
                leftOpen = true;
                open->reject();
            }
            return;
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && respond(window)) {
                answered = true;
                sinceAnswer.start();
                return;
            }
        }
    });
    timer.start();
    action();
    timer.stop();
    return answered && !leftOpen;
}

QWidget *FindControl(const QString &name) {
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() == name) {
            return window;
        }
        if (auto *child = window->findChild<QWidget *>(name)) {
            return child;
        }
    }
    return nullptr;
}

void Click(const char *name) {
    auto *button = Find<QPushButton>(name);
    QVERIFY2(button != nullptr, name);
    QVERIFY2(button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

int ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}
