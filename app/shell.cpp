#include "app/shell.h"

#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

namespace velt {

void showException(const QString& message) {
    std::fprintf(stderr, "VELT: %s\n", message.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("VELT"), message, QMessageBox::Ok);
    box.exec();
}

void reportError(const QString& message) {
    static QElapsedTimer sinceLast;
    static unsigned long long heldBack = 0;
    if (sinceLast.isValid() && sinceLast.elapsed() < 1000) {
        ++heldBack;
        return;
    }
    sinceLast.start();
    const QString text = message.isEmpty() ? QStringLiteral("neznámá chyba") : message;
    if (heldBack > 0)
        std::fprintf(stderr, "VELT: %s (a %llu dalších)\n", text.toLocal8Bit().constData(),
                     heldBack);
    else
        std::fprintf(stderr, "VELT: %s\n", text.toLocal8Bit().constData());
    heldBack = 0;
}

void reportLoss(unsigned long long total) {
    static QElapsedTimer sinceLast;
    static unsigned long long reported = 0;
    static unsigned long long latest = 0;
    static bool pending = false;
    latest = std::max(latest, total);
    if (latest == reported || pending)
        return;
    const auto write = [] {
        pending = false;
        sinceLast.start();
        reported = latest;
        std::fprintf(stderr, "VELT: ztraceno celkem %llu měření\n", reported);
    };
    if (!sinceLast.isValid() || sinceLast.elapsed() >= 1000)
        return write();
    pending = true;
    QTimer::singleShot(1000 - sinceLast.elapsed(), qApp, write);
}

int runMainWindow(const std::function<QWidget*()>& createForm) {
    try {
        const std::unique_ptr<QWidget> form(createForm());
        form->show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        showException(QString::fromUtf8(error.what()));
    } catch (...) {
        showException(QString());
    }
    return 1;
}

} // namespace velt

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("VELT"));
    setDesktopFileName(QStringLiteral("cz.velt.VELT"));
    QIcon icon(QStringLiteral(":/icons/cz.velt.VELT.png"));
    // Up to 64 px: larger sizes come from the icon theme through the desktop entry, and
    // decoding them would only delay the window.
    for (int size : {16, 22, 24, 48, 64})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1.png").arg(size));
    setWindowIcon(icon);
    // The window speaks Czech, so Qt's own texts (context menus, dialog buttons) do too.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_cs"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        velt::reportError(QString::fromUtf8(error.what()));
    } catch (...) {
        velt::reportError(QString());
    }
    return false;
}
