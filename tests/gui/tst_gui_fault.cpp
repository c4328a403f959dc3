// The fault report and the exit codes, in child processes: a fault shows the "Error" box with the
// fault text, line and file, and the process ends with a non-zero code; a normal end gives 0; a
// missing cluster library is refused in plain words before anything else starts.
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

class GuiFaultTests : public QObject {
    Q_OBJECT

    struct ChildRun {
        int ExitCode = -1;
        QProcess::ExitStatus Status = QProcess::CrashExit;
        QString Output;
    };

    static ChildRun Run(const QString &program, const QString &mode) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(program, {mode});
        ChildRun run;
        if (!child.waitForFinished(30000)) {
            child.kill();
            child.waitForFinished(5000);
            return run;
        }
        run.ExitCode = child.exitCode();
        run.Status = child.exitStatus();
        run.Output = QString::fromLocal8Bit(child.readAllStandardOutput());
        return run;
    }

    // The "Error" box the child answered must report the location it recorded before faulting.
    static void VerifyReport(const ChildRun &run, const QString &faultText) {
        static const QRegularExpression faultAt(QStringLiteral("FAULT-AT (\\d+) (\\S+)"));
        const QRegularExpressionMatch at = faultAt.match(run.Output);
        QVERIFY2(at.hasMatch(), qPrintable(run.Output));
        const QString expected = QStringLiteral("BOX Error|%1\\rLine: %2\\rFile: %3|buttons 1")
                                     .arg(faultText, at.captured(1), at.captured(2));
        QVERIFY2(run.Output.contains(expected), qPrintable(run.Output));
        QVERIFY(!run.Output.contains(QStringLiteral("ENDED-NORMALLY")));  // no shutdown step ran
    }

private slots:
    void faultOnMainThreadIsReportedAndEndsNonZero() {
        const ChildRun run = Run(QStringLiteral(FAULT_CHILD_PATH), QStringLiteral("main"));
        QCOMPARE(run.Status, QProcess::NormalExit);
        QCOMPARE(run.ExitCode, 128 + SIGSEGV);
        VerifyReport(run, QStringLiteral("Invalid memory access"));
    }

    void faultOnWorkerThreadIsReportedByTheMainThread() {
        const ChildRun run = Run(QStringLiteral(FAULT_CHILD_PATH), QStringLiteral("worker"));
        QCOMPARE(run.Status, QProcess::NormalExit);
        QCOMPARE(run.ExitCode, 128 + SIGFPE);
        VerifyReport(run, QStringLiteral("Division by zero (floating-point)"));
    }

    void faultInsideARequestNamesTheRequestLayer() {
        const ChildRun run = Run(QStringLiteral(FAULT_CHILD_PATH), QStringLiteral("request"));
        QCOMPARE(run.Status, QProcess::NormalExit);
        QCOMPARE(run.ExitCode, 128 + SIGSEGV);
        static const QRegularExpression report(QStringLiteral(
            "BOX Error\\|Invalid memory access\\\\rLine: (\\d+)\\\\rFile: (\\S+)\\|buttons 1"));
        const QRegularExpressionMatch match = report.match(run.Output);
        QVERIFY2(match.hasMatch(), qPrintable(run.Output));
        QVERIFY2(match.captured(2).endsWith(QStringLiteral("Network/Client/RoundTrip.cpp")),
                 qPrintable(run.Output));
        QVERIFY(match.captured(1).toInt() > 0);
    }

    void closingMainWindowEndsWithZero() {
        const ChildRun run = Run(QStringLiteral(FAULT_CHILD_PATH), QStringLiteral("normal"));
        QCOMPARE(run.Status, QProcess::NormalExit);
        QCOMPARE(run.ExitCode, 0);
        QVERIFY(run.Output.contains(QStringLiteral("ENDED-NORMALLY")));
        QVERIFY(!run.Output.contains(QStringLiteral("BOX")));
    }

    void missingLibraryIsRefusedInPlainWords() {
        const ChildRun run = Run(QStringLiteral(NOLIB_CHILD_PATH), QStringLiteral("normal"));
        QCOMPARE(run.Status, QProcess::NormalExit);
        QCOMPARE(run.ExitCode, 1);
        QVERIFY2(run.Output.contains(QStringLiteral("BOX Client Techdemo|Client Techdemo cannot "
                                                    "start: the cluster library")),
                 qPrintable(run.Output));
        QVERIFY(run.Output.contains(QStringLiteral("STARTUP-REFUSED")));
    }
};

QTEST_GUILESS_MAIN(GuiFaultTests)
#include "tst_gui_fault.moc"
