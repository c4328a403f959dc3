// Start-up and shutdown of the front-end, in their fixed order.
#include <QApplication>
#include <QString>
#include <QWidget>

#include "Network/CT/Clock.h"
#include "Network/CT/PeriodicThread.h"
#include "Network/Client/Client.h"
#include "Network/Client_Demo/ClientDemo.h"
#include "Network/Client_Demo/ControlState.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/ErrorHandler.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/MessageBox.h"
#include "Network/Client_Demo/ProfileDisplay.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/Workers.h"
#include "Network/Common/CurrentLocation.h"
#include "Network/Include/Drovik_Inc.h"

namespace {

void RefuseToStart(const QString &reason) {
    ShowModalMessage(QStringLiteral("Client Techdemo"),
                     QStringLiteral("Client Techdemo cannot start: ") + reason);
}

// The library must be there with every entry point the client calls: nothing may ever call a
// missing one.
bool BindClusterLibrary() {
    if (LoadClusterLibrary() == 0) {
        RefuseToStart(QStringLiteral("the cluster library %1 could not be loaded.\n\n%2")
                          .arg(QString::fromLocal8Bit(ClusterLibraryPath),
                               QString::fromLocal8Bit(ClusterLibraryLoadError().c_str())));
        return false;
    }
    const std::string missing = MissingClientEntryPoint();
    if (!missing.empty()) {
        RefuseToStart(QStringLiteral("the cluster library %1 lacks the entry point %2, which the "
                                     "client needs. Install a matching version of the library.")
                          .arg(QString::fromLocal8Bit(ClusterLibraryPath),
                               QString::fromLocal8Bit(missing.c_str())));
        UnloadClusterLibrary();
        return false;
    }
    return true;
}

void StopWorkers() {
    // The list worker first, then the message worker; each returns once its worker has ended.
    StopPeriodicThread(FrontEndState.ListWorker);
    FrontEndState.ListWorker = nullptr;
    StopPeriodicThread(FrontEndState.MessageWorker);
    FrontEndState.MessageWorker = nullptr;
}

}  // namespace

int ClientDemo_StartUp() {
    RecordLocation();
    ResetFrontEndState();
    if (!BindClusterLibrary()) {
        return 0;
    }
    // The picture decoders (BMP, JPEG, PNG) are built in: there is nothing to register.
    ChooseMillisecondsClock();
    if (ClientInit() != 1) {
        RefuseToStart(QStringLiteral("the cluster library could not set up the client.\n\n%1")
                          .arg(FromWire(GetLastErrorText())));
        ClientDeInit();
        return 0;
    }
    InstallErrorHandler();
    RecordLocation();

    BuildWindows();
    ConnectHandlers();

    FrontEndState.ListWorker = StartPeriodicThread(RefreshOnlineList, 2500, 0);
    FrontEndState.MessageWorker = StartPeriodicThread(FetchMessages, 500, 0);
    if (FrontEndState.ListWorker == nullptr || FrontEndState.MessageWorker == nullptr) {
        RefuseToStart(QStringLiteral("its worker threads could not be started."));
        ClientDemo_ShutDown();
        return 0;
    }

    SetConnectionControls(0);
    Controls.MainWindow->show();
    RecordLocation();
    return 1;
}

void ClientDemo_ShutDown() {
    RecordLocation();
    FrontEndState.ShownAvatar.reset();
    if (Controls.ProfileWindow != nullptr) {
        ShowAvatarImage();  // the control must not keep showing the freed picture
    }
    StopWorkers();
    ClientDeInit();
    DestroyWindows();
    ResetFrontEndState();
    RemoveErrorHandler();
    // The cluster library stays loaded until the process ends: memory it keeps for the whole run
    // must stay reachable, and a later start-up in the same process finds it bound.
}
