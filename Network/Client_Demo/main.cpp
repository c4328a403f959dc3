// Client Techdemo: a desktop client for a community chat server.
#include <QApplication>

#include "HeapReuse.h"
#include "Network/Client_Demo/ClientDemo.h"

int main(int argc, char *argv[]) {
    KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    if (ClientDemo_StartUp() != 1) {
        return 1;
    }
    QApplication::exec();
    ClientDemo_ShutDown();
    return 0;
}
