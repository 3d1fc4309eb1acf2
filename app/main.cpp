#include "app/shell.h"
#include "net/udp_server.h"
#include "ui/VELT_projekt.h"

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    return velt::run_main_window([] {
        Form1 = new TForm1;
        QObject::connect(Form1->findChild<TUDPServer*>(QStringLiteral("udpS")),
                         &TUDPServer::handlerFailed, [](const QString& message) {
                             velt::report_error(QStringLiteral("chyba při zpracování datagramu: ") +
                                                message);
                         });
        return Form1;
    });
}
