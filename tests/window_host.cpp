// The program's window in a process of its own, for tests that stop it or close it while
// datagrams pour in: it closes the window after the milliseconds given as its argument,
// as a person would, first printing what the count field shows.

#include "app/shell.h"
#include "ui/VELT_projekt.h"

#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    const int closeAfterMs = argc > 1 ? std::atoi(argv[1]) : 1000;
    return velt::runMainWindow([closeAfterMs] {
        Form1 = new TForm1;
        QTimer::singleShot(closeAfterMs, Form1, [] {
            const auto* count = Form1->findChild<QLineEdit*>(QStringLiteral("edit_pocitadlo"));
            std::printf("count %s\ntooltip %s\ndescription %s\nclosing\n",
                        qPrintable(count->text()), qPrintable(count->toolTip()),
                        qPrintable(count->accessibleDescription()));
            std::fflush(stdout);
            Form1->close();
        });
        return Form1;
    });
}
