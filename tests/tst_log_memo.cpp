#include "ui/log_memo.h"

#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

// Plays a script: "type:TEXT" types, anything else is a key sequence such as
// "Shift+Home" or "Ctrl+Z".
void play(QWidget* w, const QStringList& script) {
    for (const QString& step : script) {
        if (step.startsWith(u"type:")) {
            QTest::keyClicks(w, step.mid(5));
            continue;
        }
        const QKeyCombination key = QKeySequence::fromString(step)[0];
        QTest::keyClick(w, key.key(), key.keyboardModifiers());
    }
}

struct Shown {
    TLogMemo memo;
    Shown(const QStringList& lines, LogPosition caret) {
        memo.resize(300, 200);
        memo.show();
        if (!QTest::qWaitForWindowExposed(&memo))
            qFatal("not exposed");
        memo.setFocus();
        if (lines.size() > 1 || !lines.value(0).isEmpty())
            memo.replaceText({0, 0}, {0, 0}, lines.join(u'\n'));
        memo.setCursorPosition(caret);
    }
};

} // namespace

class TestLogMemo : public QObject {
    Q_OBJECT
private slots:
    void editingKeys_data();
    void editingKeys();
    void clipboard();
    void mouseSelects();
    void undoTakesBackOnlyTheUsersEdits();
    void readingsGoBelowWhateverTheUserTyped();
    void followsNewestOnlyAtTheBottom();
    void accessibleTextIsTheControlsText();
    void contextMenuOffersWhatApplies();
};

void TestLogMemo::editingKeys_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caretLine");
    QTest::addColumn<int>("caretColumn");

    const QStringList abc{"abc", "de", "fghij"};
    QTest::newRow("typing") << QStringList{""} << 0 << 0 << QStringList{"type:xy"} << "xy" << 0
                            << 2;
    QTest::newRow("enter splits a line")
        << abc << 0 << 1 << QStringList{"Return"} << "a\nbc\nde\nfghij" << 1 << 0;
    QTest::newRow("backspace joins lines")
        << abc << 1 << 0 << QStringList{"Backspace"} << "abcde\nfghij" << 0 << 3;
    QTest::newRow("delete joins lines")
        << abc << 0 << 3 << QStringList{"Del"} << "abcde\nfghij" << 0 << 3;
    QTest::newRow("backspace at the start does nothing")
        << abc << 0 << 0 << QStringList{"Backspace"} << "abc\nde\nfghij" << 0 << 0;
    QTest::newRow("delete at the end does nothing")
        << abc << 2 << 5 << QStringList{"Del"} << "abc\nde\nfghij" << 2 << 5;
    QTest::newRow("down keeps the column where it can")
        << abc << 0 << 3 << QStringList{"Down", "Down"} << "abc\nde\nfghij" << 2 << 3;
    QTest::newRow("up from the end")
        << abc << 2 << 4 << QStringList{"Up", "type:X"} << "abc\ndeX\nfghij" << 1 << 3;
    QTest::newRow("home and end") << abc << 2 << 2 << QStringList{"Home", "type:<", "End", "type:>"}
                                  << "abc\nde\n<fghij>" << 2 << 7;
    QTest::newRow("ctrl+home and ctrl+end")
        << abc << 1 << 1 << QStringList{"Ctrl+Home", "type:[", "Ctrl+End", "type:]"}
        << "[abc\nde\nfghij]" << 2 << 6;
    QTest::newRow("right across a line end")
        << abc << 0 << 3 << QStringList{"Right", "type:_"} << "abc\n_de\nfghij" << 1 << 1;
    QTest::newRow("shift+left then typing replaces")
        << abc << 0 << 3 << QStringList{"Shift+Left", "Shift+Left", "type:Z"} << "aZ\nde\nfghij"
        << 0 << 2;
    QTest::newRow("shift+down selects across lines")
        << abc << 0 << 1 << QStringList{"Shift+Down", "Del"} << "ae\nfghij" << 0 << 1;
    QTest::newRow("select all and delete")
        << abc << 1 << 1 << QStringList{"Ctrl+A", "Backspace"} << "" << 0 << 0;
    QTest::newRow("arrow collapses a selection")
        << abc << 0 << 0 << QStringList{"Shift+End", "Left", "type:<"} << "<abc\nde\nfghij" << 0
        << 1;
    QTest::newRow("page down goes to the last line")
        << abc << 0 << 0 << QStringList{"PgDown"} << "abc\nde\nfghij" << 2 << 0;
    QTest::newRow("page up goes to the first line")
        << abc << 2 << 1 << QStringList{"PgUp"} << "abc\nde\nfghij" << 0 << 1;
    QTest::newRow("word right") << QStringList{"Teplota = 25.0625"} << 0 << 0
                                << QStringList{"Ctrl+Right", "type:|"} << "Teplota = |25.0625" << 0
                                << 11;
    QTest::newRow("word left") << QStringList{"Teplota = 25.0625"} << 0 << 17
                               << QStringList{"Ctrl+Left", "type:|"} << "Teplota = 25.|0625" << 0
                               << 14;
    QTest::newRow("ctrl+backspace deletes a word")
        << QStringList{"Teplota = 25"} << 0 << 7 << QStringList{"Ctrl+Backspace"} << " = 25" << 0
        << 0;
    QTest::newRow("ctrl+delete deletes to the next word")
        << QStringList{"Teplota = 25"} << 0 << 0 << QStringList{"Ctrl+Del"} << "25" << 0 << 0;
    QTest::newRow("undo and redo")
        << abc << 0 << 3 << QStringList{"type:xyz", "Ctrl+Z", "Ctrl+Shift+Z"} << "abcxyz\nde\nfghij"
        << 0 << 6;
    QTest::newRow("typed run undoes as one")
        << abc << 1 << 2 << QStringList{"type:1234", "Ctrl+Z"} << "abc\nde\nfghij" << 1 << 2;
}

void TestLogMemo::editingKeys() {
    QFETCH(QStringList, lines);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QStringList, script);
    Shown shown(lines, {line, column});
    play(&shown.memo, script);
    QTEST(shown.memo.toPlainText(), "text");
    QTEST(int(shown.memo.cursorPosition().line), "caretLine");
    QTEST(shown.memo.cursorPosition().column, "caretColumn");
}

void TestLogMemo::clipboard() {
    Shown shown({"Teplota = 24", "Teplota = 25"}, {0, 10});
    play(&shown.memo, {"Shift+End", "Ctrl+C"});
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("24"));
    play(&shown.memo, {"Ctrl+X"});
    QCOMPARE(shown.memo.toPlainText(), QStringLiteral("Teplota = \nTeplota = 25"));
    play(&shown.memo, {"Ctrl+End", "Ctrl+V"});
    QCOMPARE(shown.memo.toPlainText(), QStringLiteral("Teplota = \nTeplota = 2524"));
    QGuiApplication::clipboard()->setText(QStringLiteral("a\r\nb"));
    play(&shown.memo, {"Ctrl+V"});
    QCOMPARE(shown.memo.toPlainText(), QStringLiteral("Teplota = \nTeplota = 2524a\nb"));
}

void TestLogMemo::mouseSelects() {
    Shown shown({"first line", "second line", "third"}, {0, 0});
    TLogMemo& memo = shown.memo;
    const QRect second = memo.characterRect({1, 0});
    QTest::mouseClick(memo.viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(memo.cursorPosition(), (LogPosition{1, 0}));
    const QRect third = memo.characterRect({2, 3});
    QTest::mouseClick(memo.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(third.left() + 1, third.center().y()));
    QCOMPARE(memo.selectedText(), QStringLiteral("second line\nthi"));
    QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, memo.characterRect({0, 2}).center());
    QCOMPARE(memo.selectedText(), QStringLiteral("first"));
}

void TestLogMemo::undoTakesBackOnlyTheUsersEdits() {
    Shown shown({""}, {0, 0});
    TLogMemo& memo = shown.memo;
    play(&memo, {"type:note"});
    memo.appendLines({"Teplota = 24", "Teplota = 25"});
    play(&memo, {"type:!"});
    QCOMPARE(memo.undoSteps(), 1);
    play(&memo, {"Ctrl+Z"});
    QCOMPARE(memo.toPlainText(), QStringLiteral("\nTeplota = 24\nTeplota = 25"));
    play(&memo, {"Ctrl+Z"}); // nothing left to undo: the readings stay
    QCOMPARE(memo.toPlainText(), QStringLiteral("\nTeplota = 24\nTeplota = 25"));
    play(&memo, {"Ctrl+Y"});
    QCOMPARE(memo.toPlainText(), QStringLiteral("note!\nTeplota = 24\nTeplota = 25"));
}

void TestLogMemo::readingsGoBelowWhateverTheUserTyped() {
    Shown shown({""}, {0, 0});
    TLogMemo& memo = shown.memo;
    play(&memo, {"type:a", "Return", "type:b"});
    memo.appendLines({"Teplota = 24"});
    QCOMPARE(memo.toPlainText(), QStringLiteral("a\nb\nTeplota = 24"));
    play(&memo, {"Ctrl+A", "Del"});
    memo.appendLines({"Teplota = 25"});
    QCOMPARE(memo.toPlainText(), QStringLiteral("\nTeplota = 25"));
    // The caret stays where the user left it.
    QCOMPARE(memo.cursorPosition(), (LogPosition{0, 0}));
}

void TestLogMemo::followsNewestOnlyAtTheBottom() {
    Shown shown({""}, {0, 0});
    TLogMemo& memo = shown.memo;
    QStringList many;
    for (int i = 0; i < 500; ++i)
        many << QStringLiteral("Teplota = %1").arg(i);
    memo.appendLines(many);
    QScrollBar* bar = memo.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(3);
    memo.appendLines({"Teplota = 1"});
    QCOMPARE(bar->value(), 3);
    bar->setValue(bar->maximum());
    memo.appendLines({"Teplota = 2"});
    QCOMPARE(bar->value(), bar->maximum());
    // The wheel scrolls, and scrolling up stops the following.
    const QPoint centre = memo.viewport()->rect().center();
    QWheelEvent wheel(centre, memo.viewport()->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(memo.viewport(), &wheel);
    QVERIFY(bar->value() < bar->maximum());
    const int scrolled = bar->value();
    memo.appendLines({"Teplota = 3"});
    QCOMPARE(bar->value(), scrolled);
}

void TestLogMemo::accessibleTextIsTheControlsText() {
    Shown shown({"ab", "cd"}, {1, 1});
    TLogMemo& memo = shown.memo;
    memo.setAccessibleName(QStringLiteral("Záznam teplot"));
    memo.appendLines({"Teplota = 24"});
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&memo);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Záznam teplot"));
    QAccessibleTextInterface* text = accessible->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(memo.toPlainText().size()));
    QCOMPARE(text->text(0, text->characterCount()), memo.toPlainText());
    QCOMPARE(text->cursorPosition(), 4);
    int start = 0, end = 0;
    QString line = text->textAtOffset(7, QAccessible::LineBoundary, &start, &end);
    QCOMPARE(line.trimmed(), QStringLiteral("Teplota = 24"));
    text->setSelection(0, 1, 4);
    QCOMPARE(memo.selectedText(), QStringLiteral("b\nc"));
    auto* editable = static_cast<QAccessibleEditableTextInterface*>(
        accessible->interface_cast(QAccessible::EditableTextInterface));
    QVERIFY(editable);
    editable->insertText(0, QStringLiteral(">"));
    QCOMPARE(memo.toPlainText(), QStringLiteral(">ab\ncd\nTeplota = 24"));
}

void TestLogMemo::contextMenuOffersWhatApplies() {
    Shown shown({"Teplota = 24"}, {0, 0});
    TLogMemo& memo = shown.memo;
    QGuiApplication::clipboard()->clear();
    const auto enabled = [&memo] {
        std::unique_ptr<QMenu> menu(memo.createStandardContextMenu());
        QStringList on;
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->isEnabled())
                on << action->text().section(u'\t', 0, 0).remove(u'&');
        return on;
    };
    QCOMPARE(enabled(), (QStringList{"Undo", "Select All"})); // the text was typed in
    play(&memo, {"Shift+End"});
    QCOMPARE(enabled(), (QStringList{"Undo", "Cut", "Copy", "Delete", "Select All"}));
    std::unique_ptr<QMenu> menu(memo.createStandardContextMenu());
    menu->actions().at(4)->trigger(); // Copy
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Teplota = 24"));
    menu->actions().at(6)->trigger(); // Delete
    QCOMPARE(memo.toPlainText(), QString());
    QCOMPARE(enabled(), (QStringList{"Undo", "Paste"}));
}

QTEST_MAIN(TestLogMemo)
#include "tst_log_memo.moc"
