#include "app/shell.h"
#include "net/udp_server.h"
#include "ui/VELT_projekt.h"

int main(int argc, char* argv[]) {
    velt::prepareWindowSystem();
    TApplication application(argc, argv);
    return velt::runMainWindow([] {
        Form1 = new TForm1;
        auto* udpS = Form1->findChild<TUDPServer*>(QStringLiteral("udpS"));
        QObject::connect(udpS, &TUDPServer::batchDelivered, udpS,
                         [udpS] { velt::reportLoss(udpS->lostDatagrams()); });
        QObject::connect(udpS, &TUDPServer::handlerFailed, [](const QString& message) {
            velt::reportError(QStringLiteral("chyba při zpracování datagramu: ") + message);
        });
        return Form1;
    });
}
