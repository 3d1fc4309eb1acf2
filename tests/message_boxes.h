#pragma once
// Lets a test run code that shows a modal message box, without a person to click.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

struct SeenBox {
    QString title;
    QString text;
    int shown = 0;
};

// Answers the next modal message box the way a person would click OK, and notes what
// it said.
inline void answerNextMessageBox(SeenBox& seen) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            ++seen.shown;
            box->accept();
            timer->deleteLater();
        }
    });
    timer->start(10);
}
