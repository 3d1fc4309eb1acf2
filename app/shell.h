#pragma once
// Start-up, the event loop and the one place where errors are caught and shown.
// Errors raised while the main window is built end the program after a message;
// errors raised by event handlers later are reported and the program goes on.

#include <QApplication>

#include <functional>

namespace velt {

// A modal message box owned by no window, titled with the program's name, and the same
// text on stderr for a start from a terminal.
void showException(const QString& message);

// An error while the program runs (a datagram's handling failed, an event handler threw):
// written to stderr at most once a second, with how many more came in between, so that
// a flood of failures neither floods the terminal nor goes unseen.
void reportError(const QString& message);

// Readings lost so far, as the receiver counts them: on stderr when the total grew, at
// most once a second; the last total is written even when no more losses follow.
void reportLoss(unsigned long long total);

// Builds the main window with `createForm`, shows it and runs the event loop until it
// is closed. Returns the exit status: 0 after a normal close, 1 after a start-up error.
int runMainWindow(const std::function<QWidget*()>& createForm);

} // namespace velt

// The application object. No exception may unwind through Qt's event dispatch, so any
// that an event handler lets out is reported here instead.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
