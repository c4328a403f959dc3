// A client_demo that faults on purpose, for the test of the fault report. It starts the program as
// main does, answers every message box by printing "BOX title|text" (CR shown as \r) and pressing
// OK, and then, by its argument:
//   main    writes to a read-only page on the main thread
//   worker  divides by zero in floating point on a thread of its own
//   request faults inside a request, where the request layer builds its parameter list
//   normal  closes MainWindow, as the close box does
// Before faulting it prints "FAULT-AT line file" of the location it records.
#include <fenv.h>
#include <sys/mman.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <string>
#include <thread>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Common/CurrentLocation.h"

namespace {

void AnswerBoxes() {
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (box == nullptr || !box->isVisible()) {
            continue;
        }
        QString text = box->text();
        text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
        std::printf("BOX %s|%s|buttons %d\n", qPrintable(box->windowTitle()), qPrintable(text),
                    static_cast<int>(box->buttons().size()));
        std::fflush(stdout);
        box->button(QMessageBox::Ok)->click();
    }
}

// Records the caller's location, as every handler does, and tells the test which it is.
void RecordAndPrintLocation(std::source_location where = std::source_location::current()) {
    RecordLocation(where);
    std::printf("FAULT-AT %u %s\n", static_cast<unsigned>(where.line()), where.file_name());
    std::fflush(stdout);
}

// Faults the sanitizers do not intercept as undefined behaviour, so that the same test runs in
// every build: a write to a read-only page, and a floating-point division by zero with that
// exception unmasked.
void WriteToReadOnlyPage() {
    void *page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int *>(page) = 1;
}

// Stands in for the library's entry point: the fault happens while a request runs.
int32_t DROVIK_CALL FaultingAddString(intptr_t, const char *) {
    WriteToReadOnlyPage();
    return 0;
}

volatile double Zero = 0.0;
volatile double Dividend = 7.0;

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "normal";
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, AnswerBoxes);
    answerer.start(20);

    if (ClientDemo_StartUp() != 1) {
        std::printf("STARTUP-REFUSED\n");
        return 1;
    }
    if (mode == "main") {
        QTimer::singleShot(50, [] {
            RecordAndPrintLocation();
            WriteToReadOnlyPage();
        });
    } else if (mode == "request") {
        QTimer::singleShot(50, [] {
            // The handler's location; the report must name the request layer's own instead.
            RecordAndPrintLocation();
            Cluster::Drovik_Parameter_AddString = &FaultingAddString;
            User_SendGlobalMessage("hello");
        });
    } else if (mode == "worker") {
        std::thread([] {
            feenableexcept(FE_DIVBYZERO);
            RecordAndPrintLocation();
            std::printf("%f\n", Dividend / Zero);
        }).detach();
    } else {
        QTimer::singleShot(50, [] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (window->objectName() == QLatin1String("MainWindow")) {
                    window->close();
                }
            }
        });
    }
    QApplication::exec();
    ClientDemo_ShutDown();
    std::printf("ENDED-NORMALLY\n");
    return 0;
}
