// Figures of the front-end, on Qt's offscreen platform unless another is chosen:
//   1. ChatView: 100,000 received lines appended the way the message worker delivers them;
//      time per line for each block of 10,000 (it must not grow with the history) and the
//      longest stall of the event loop.
//   2. OnlineList: one refresh with 5,000 names, from the queued call to the repainted list.
//   3. Idle: the client's CPU time and memory while logged in to a local server and idle.
// Usage: gui_bench [idle-seconds]   (default 60; 0 skips the idle run)
#include <sys/resource.h>
#include <time.h>

#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Workers.h"

namespace {

double Milliseconds(const QElapsedTimer &timer) {
    return timer.nsecsElapsed() / 1e6;
}

// CPU time of the calling thread, in milliseconds.
double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Measures the gaps between ticks of a 1 ms timer: how long the event loop was blocked at a time.
// On a shared machine a wall-clock gap also holds time the process was not scheduled at all, so
// the main thread's CPU time between ticks is given too: that part is the program's own work.
class StallMeter {
public:
    StallMeter() {
        QObject::connect(&Ticker, &QTimer::timeout, [this] {
            Gaps.push_back(Milliseconds(SinceTick));
            SinceTick.restart();
            const double cpu = ThreadCpuMilliseconds();
            LongestCpu = std::max(LongestCpu, cpu - CpuAtTick);
            CpuAtTick = cpu;
        });
    }
    void Start() {
        Gaps.clear();
        LongestCpu = 0;
        CpuAtTick = ThreadCpuMilliseconds();
        SinceTick.start();
        Ticker.start(1);
    }
    void Stop() { Ticker.stop(); }
    void Print() {
        std::sort(Gaps.begin(), Gaps.end());
        if (Gaps.empty()) {
            return;
        }
        const auto over50 =
            std::count_if(Gaps.begin(), Gaps.end(), [](double g) { return g > 50; });
        std::printf(
            "  event loop: %zu ticks, gap median %.1f ms, 99.9th percentile %.1f ms, "
            "longest %.1f ms, %td over 50 ms; longest main-thread CPU time between "
            "ticks %.1f ms (goal: no stall over 50 ms)\n",
            Gaps.size(), Gaps[Gaps.size() / 2], Gaps[Gaps.size() * 999 / 1000], Gaps.back(), over50,
            LongestCpu);
    }

private:
    QTimer Ticker;
    std::vector<double> Gaps;
    QElapsedTimer SinceTick;
    double LongestCpu = 0;
    double CpuAtTick = 0;
};

void BenchChatView() {
    constexpr int TotalLines = 100000;
    constexpr int LinesPerBatch = 20;  // a generous load for one 500 ms poll
    constexpr int BlockLines = 10000;
    QPlainTextEdit *chat = Controls.Main.ChatView;
    chat->clear();
    chat->setEnabled(true);

    QSemaphore processed;
    std::vector<double> blockMs;
    StallMeter stalls;
    stalls.Start();
    QElapsedTimer block;
    block.start();
    std::thread worker([&] {
        for (int sent = 0; sent < TotalLines; sent += LinesPerBatch) {
            QStringList lines;
            for (int i = sent; i < sent + LinesPerBatch; ++i) {
                lines.append(QStringLiteral("user%1: message number %2 with some ordinary text")
                                 .arg(i % 97)
                                 .arg(i));
            }
            PostChatLines(std::move(lines));
            QMetaObject::invokeMethod(
                chat, [&processed] { processed.release(); }, Qt::QueuedConnection);
            processed.acquire();  // one batch at a time, as the worker polls
        }
    });
    while (chat->blockCount() < TotalLines) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const int done = chat->document()->blockCount();
        if (done >= BlockLines * (static_cast<int>(blockMs.size()) + 1)) {
            blockMs.push_back(Milliseconds(block));
            block.restart();
        }
    }
    worker.join();
    stalls.Stop();
    std::printf("ChatView: %d lines appended in batches of %d\n", TotalLines, LinesPerBatch);
    for (size_t i = 0; i < blockMs.size(); ++i) {
        std::printf("  lines %6zu-%6zu: %7.1f ms, %6.2f us per line\n", i * BlockLines + 1,
                    (i + 1) * BlockLines, blockMs[i], blockMs[i] * 1000.0 / BlockLines);
    }
    stalls.Print();
}

void BenchOnlineList() {
    constexpr int Names = 5000;
    constexpr int Rounds = 20;
    QListWidget *list = Controls.Main.OnlineList;
    list->setEnabled(true);
    std::vector<double> refreshMs;
    for (int round = 0; round < Rounds; ++round) {
        QStringList names;
        for (int i = 0; i < Names; ++i) {
            names.append(QStringLiteral("user_%1_%2").arg(i).arg(round));
        }
        QElapsedTimer timer;
        timer.start();
        PostOnlineNames(std::move(names));
        QCoreApplication::sendPostedEvents(list);
        list->repaint();
        refreshMs.push_back(Milliseconds(timer));
    }
    std::sort(refreshMs.begin(), refreshMs.end());
    std::printf(
        "OnlineList: refresh with %d names, %d rounds: median %.2f ms, max %.2f ms "
        "(goal: at most 50 ms)\n",
        Names, Rounds, refreshMs[Rounds / 2], refreshMs.back());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString StatusField(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return QStringLiteral("?");
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return QString::fromLatin1(line.mid(qstrlen(field))).simplified();
        }
    }
    return QStringLiteral("?");
}

// CPU time of every thread of the process, in clock ticks, by thread id ("name tid").
std::map<QString, long> ThreadCpuTicks() {
    std::map<QString, long> ticks;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (open < 0 || close < 0 || fields.size() < 13) {
            continue;
        }
        const QString name = QString::fromLatin1(line.mid(open + 1, close - open - 1));
        ticks[name + QLatin1Char(' ') + tid] = fields[11].toLong() + fields[12].toLong();
    }
    return ticks;
}

void PrintBusiestThreads(const std::map<QString, long> &before,
                         const std::map<QString, long> &after) {
    const double msPerTick = 1000.0 / sysconf(_SC_CLK_TCK);
    for (const auto &[thread, ticks] : after) {
        const auto was = before.find(thread);
        const long used = ticks - (was == before.end() ? 0 : was->second);
        if (used > 0) {
            std::printf("  thread %s: %.0f ms\n", qPrintable(thread), used * msPerTick);
        }
    }
}

bool Click(QPushButton *button) {
    button->click();
    return true;
}

void BenchIdle(int seconds) {
    QTemporaryDir folder;
    QFile password(folder.filePath(QStringLiteral("admin")));
    password.open(QIODevice::WriteOnly);
    password.write("bench-admin\n");
    password.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral(COMMUNITY_SERVER_PATH),
                 {QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                  QStringLiteral("0"), QStringLiteral("--db"), folder.filePath("store.db"),
                  QStringLiteral("--admin-password-file"), password.fileName()});
    QString output;
    int port = 0;
    static const QRegularExpression listening(QStringLiteral("listening on [^:\\s]+:(\\d+)"));
    for (int i = 0; i < 200 && port == 0 && server.state() != QProcess::NotRunning; ++i) {
        server.waitForReadyRead(100);
        output += QString::fromUtf8(server.readAll());
        const QRegularExpressionMatch match = listening.match(output);
        port = match.hasMatch() ? match.captured(1).toInt() : 0;
    }
    if (port == 0) {
        std::printf("Idle: the community server did not start (%s)\n", COMMUNITY_SERVER_PATH);
        return;
    }
    MainWindowControls &c = Controls.Main;
    c.HostField->setText(QStringLiteral("127.0.0.1"));
    c.PortField->setText(QString::number(port));
    Click(c.ConnectButton);
    c.UserField->setText(QStringLiteral("bench_idle"));
    c.PassField->setText(QStringLiteral("bench-password"));
    Click(c.RegisterButton);
    if (FrontEndState.LoggedIn == 0) {
        std::printf("Idle: could not log in: %s\n", GetLastErrorText().c_str());
        return;
    }
    const double cpuBefore = CpuSeconds();
    const std::map<QString, long> threadsBefore = ThreadCpuTicks();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double elapsed = Milliseconds(wall) / 1000.0;
    std::printf(
        "Idle, logged in: %.1f s, CPU %.3f s = %.2f %% of one core (goal: below 1 %%); "
        "memory: resident %s, peak %s\n",
        elapsed, cpu, 100.0 * cpu / elapsed, qPrintable(StatusField("VmRSS:")),
        qPrintable(StatusField("VmHWM:")));
    PrintBusiestThreads(threadsBefore, ThreadCpuTicks());
    Click(c.LogoutButton);
    server.terminate();
    server.waitForFinished(10000);
}

}  // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::max(0, QString::fromLocal8Bit(argv[1]).toInt()) : 60;
    ClientDeInitDelayMs = 0;
    if (ClientDemo_StartUp() != 1) {
        std::printf("the program could not start\n");
        return 1;
    }
    BenchChatView();
    BenchOnlineList();
    Controls.Main.ChatView->clear();
    Controls.Main.OnlineList->clear();
    if (idleSeconds > 0) {
        BenchIdle(idleSeconds);
    }
    ClientDemo_ShutDown();
    return 0;
}
