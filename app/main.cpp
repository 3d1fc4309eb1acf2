#include "app/shell.h"
#include "net/udp_server.h"
#include "ui/VELT_projekt.h"

#include <QLineEdit>
#include <QSaveFile>

namespace {

// Where another program (a test under Wine, a monitor) reads the figures without a
// screen: after each batch, the four fields' texts, a line each, replaced whole.
void writeFiguresTo(const QString& path, const QWidget& form) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const char* name : {"edit_MAX", "edit_MIN", "edit_prumer", "edit_pocitadlo"})
        file.write(form.findChild<QLineEdit*>(QLatin1String(name))->text().toUtf8() + '\n');
    file.commit();
}

} // namespace

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    return velt::runMainWindow([] {
        Form1 = new TForm1;
        auto* udpS = Form1->findChild<TUDPServer*>(QStringLiteral("udpS"));
        QObject::connect(udpS, &TUDPServer::batchDelivered, udpS,
                         [udpS] { velt::reportLoss(udpS->lostDatagrams()); });
        QObject::connect(udpS, &TUDPServer::handlerFailed, [](const QString& message) {
            velt::reportError(QStringLiteral("chyba při zpracování datagramu: ") + message);
        });
        if (const QString path = qEnvironmentVariable("VELT_FIGURES_FILE"); !path.isEmpty())
            QObject::connect(udpS, &TUDPServer::batchDelivered, udpS,
                             [path] { writeFiguresTo(path, *Form1); });
        return Form1;
    });
}
