// The log's document without any display: caret moves and deletions keep grapheme
// clusters and surrogate pairs whole, and every change is reported once.

#include "log/log_document.h"

#include <QTest>

namespace {

velt::LogPosition at(const velt::LogDocument& document, std::int64_t offset) {
    return document.store().positionAt(offset);
}

std::int64_t offsetOf(const velt::LogDocument& document, velt::LogPosition p) {
    return document.store().offsetOf(p);
}

} // namespace

class TestLogDocument : public QObject {
    Q_OBJECT
private slots:
    void graphemesStayWhole_data();
    void graphemesStayWhole();
    void everyChangeIsReportedOnce();
    void removalsKeepTheCursorAsQTextCursorDoes_data();
    void removalsKeepTheCursorAsQTextCursorDoes();
};

void TestLogDocument::graphemesStayWhole_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("caretAfter");
    QTest::addColumn<QString>("selected");

    const QString emoji = QStringLiteral("x😀y");
    const QString mark = QStringLiteral("ae\u0301b");
    QTest::newRow("backspace behind an emoji takes the pair") << emoji << 3 << "backspace"
                                                              << "xy" << 1 << "";
    QTest::newRow("delete before an emoji takes the pair") << emoji << 1 << "delete"
                                                           << "xy" << 1 << "";
    QTest::newRow("right steps over the pair") << emoji << 1 << "right" << emoji << 3 << "";
    QTest::newRow("left steps over the pair") << emoji << 3 << "left" << emoji << 1 << "";
    QTest::newRow("shift+right selects the whole pair")
        << emoji << 1 << "shift+right" << emoji << 3 << "😀";
    QTest::newRow("a caret inside a pair goes before it")
        << emoji << 2 << "none" << emoji << 1 << "";
    QTest::newRow("typing never lands inside a pair") << emoji << 2 << "type"
                                                      << "x-😀y" << 2 << "";
    QTest::newRow("a flag is one step")
        << QStringLiteral("🇨🇿!") << 0 << "right" << QStringLiteral("🇨🇿!") << 4 << "";
    QTest::newRow("left steps over a combining mark") << mark << 3 << "left" << mark << 1 << "";
    QTest::newRow("delete takes the letter with its mark") << mark << 1 << "delete"
                                                           << "ab" << 1 << "";
    QTest::newRow("backspace takes only the mark") << mark << 3 << "backspace"
                                                   << "aeb" << 2 << "";
    QTest::newRow("right in a right-to-left line goes back")
        << QStringLiteral("שלום") << 2 << "right" << QStringLiteral("שלום") << 1 << "";
    QTest::newRow("delete at a line's end joins lines") << "ab\ncd" << 2 << "delete"
                                                        << "abcd" << 2 << "";
}

void TestLogDocument::graphemesStayWhole() {
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QString, action);
    velt::LogDocument document;
    document.setPlainText(text);
    document.setCursor(at(document, caret));
    if (action == u"backspace")
        document.deletePreviousCharacter();
    else if (action == u"delete")
        document.deleteNextCharacter();
    else if (action == u"right" || action == u"shift+right")
        document.move(velt::LogDocument::Move::Right, action == u"shift+right");
    else if (action == u"left")
        document.move(velt::LogDocument::Move::Left, false);
    else if (action == u"type")
        document.insertText(u"-");
    QTEST(document.toPlainText(), "after");
    QTEST(int(offsetOf(document, document.cursor())), "caretAfter");
    QTEST(document.selectedText(), "selected");
}

void TestLogDocument::everyChangeIsReportedOnce() {
    velt::LogDocument document;
    QStringList changes;
    connect(&document, &velt::LogDocument::contentsChange,
            [&](std::int64_t position, const QString& removed, std::int64_t added) {
                changes << QStringLiteral("%1 -%2 +%3").arg(position).arg(removed).arg(added);
            });
    document.insertText(u"ab");
    document.appendLines({"Teplota = 24", "Teplota = 25"});
    document.deletePreviousCharacter();
    document.undo();
    document.undo();
    document.redo();
    QCOMPARE(changes,
             (QStringList{"0 - +2", "2 - +26", "1 -b +0", "1 - +1", "0 -ab +0", "0 - +2"}));
    // The readings stayed through all of it, and the caret never followed them.
    QCOMPARE(document.toPlainText(), QStringLiteral("ab\nTeplota = 24\nTeplota = 25"));
    QCOMPARE(document.cursor(), (velt::LogPosition{0, 2}));
}

void TestLogDocument::removalsKeepTheCursorAsQTextCursorDoes_data() {
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("kept");
    // In "abc def": QTextCursor calls the cursor unmoved where it removes from the cursor on
    // with the cursor before the anchor, however it got there.
    QTest::newRow("delete") << 4 << 4 << "delete" << true;
    QTest::newRow("backspace") << 4 << 4 << "backspace" << false;
    QTest::newRow("delete, caret before the anchor") << 6 << 2 << "delete" << true;
    QTest::newRow("delete, caret after the anchor") << 2 << 6 << "delete" << false;
    QTest::newRow("delete the word after") << 4 << 4 << "delete word" << false;
    QTest::newRow("delete the word before") << 4 << 4 << "backspace word" << true;
    QTest::newRow("typing over a selection") << 6 << 2 << "type" << false;
}

void TestLogDocument::removalsKeepTheCursorAsQTextCursorDoes() {
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QString, action);
    velt::LogDocument document;
    document.setPlainText(u"abc def");
    document.select(at(document, anchor), at(document, caret));
    if (action == u"delete")
        document.deleteNextCharacter();
    else if (action == u"backspace")
        document.deletePreviousCharacter();
    else if (action == u"delete word")
        document.deleteNextWord();
    else if (action == u"backspace word")
        document.deletePreviousWord();
    else if (action == u"type")
        document.insertText(u"x");
    QTEST(document.cursorKeptByLastEdit(), "kept");
}

QTEST_GUILESS_MAIN(TestLogDocument)
#include "tst_log_document.moc"
