// What the front-end's QtTest suites share: a real community server on a free loopback port, a
// second client in its own process, and answering the program's modal boxes from a timer.
#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

// community_server on 127.0.0.1, any free port, a fresh store in a temporary folder, a known
// administrator password and cheap password hashing.
class TestServer {
public:
    ~TestServer();
    bool Start();
    void Stop();
    bool IsRunning() const;
    bool WaitForExit(int milliseconds);
    int Port() const { return ServerPort; }
    static QString AdminPassword() { return QStringLiteral("admin-secret"); }
    QString Output() const { return CollectedOutput; }

private:
    QTemporaryDir Folder;
    QProcess Process;
    int ServerPort = 0;
    QString CollectedOutput;
};

// A second user: the gui_peer program, driven line by line ("connect HOST PORT", "login NAME
// PASS", ...); every command answers with one line.
class PeerClient {
public:
    ~PeerClient();
    bool Start();
    QString Command(const QString &line);

private:
    QProcess Process;
};

struct SeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    int ButtonCount = 0;
    QWidget *Owner = nullptr;
    QStringList DisabledWindows;  // names of the program's windows disabled while it was open
};

// Runs action; every QMessageBox that opens meanwhile is recorded and answered with OK.
QList<SeenBox> AnswerBoxesDuring(const std::function<void()> &action);

// Runs action; the first visible dialog of type Dialog that opens meanwhile is handed to respond,
// which must close it. Returns whether one was seen.
bool RespondDuring(const std::function<void()> &action,
                   const std::function<bool(QWidget *)> &respond);

template <typename Dialog>
bool RespondToDialogDuring(const std::function<void()> &action,
                           const std::function<void(Dialog *)> &respond) {
    return RespondDuring(action, [&respond](QWidget *window) {
        auto *dialog = qobject_cast<Dialog *>(window);
        if (dialog == nullptr) {
            return false;
        }
        respond(dialog);
        return true;
    });
}

// A control of the running program, found by its object name among the top-level windows.
QWidget *FindControl(const QString &name);
template <typename T>
T *Find(const char *name) {
    return qobject_cast<T *>(FindControl(QString::fromLatin1(name)));
}

// Clicks a button of the program by name (the button must be enabled).
void Click(const char *name);

// A loopback port on which nothing listens.
int ClosedPort();
