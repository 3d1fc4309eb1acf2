#include "ui/log_store.h"

#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

namespace {

// The reference: a plain list of lines.
struct Model {
    QStringList lines{QString()};

    QString text() const { return lines.join(u'\n'); }
    qint64 offsetOf(velt::LogPosition p) const {
        qint64 offset = 0;
        for (qint64 i = 0; i < p.line; ++i)
            offset += lines[i].size() + 1;
        return offset + p.column;
    }
    void replace(velt::LogPosition from, velt::LogPosition to, const QString& text) {
        const QString joined =
            lines[from.line].left(from.column) + text + lines[to.line].mid(to.column);
        lines.remove(from.line, to.line - from.line + 1);
        const QStringList pieces = joined.split(u'\n');
        for (qsizetype i = 0; i < pieces.size(); ++i)
            lines.insert(from.line + i, pieces[i]);
    }
};

QString randomText(QRandomGenerator& random, bool breaks) {
    QString text;
    const int length = random.bounded(12);
    for (int i = 0; i < length; ++i)
        text += breaks && random.bounded(5) == 0 ? QChar(u'\n') : QChar(u'a' + random.bounded(26));
    return text;
}

velt::LogPosition randomPosition(QRandomGenerator& random, const Model& model) {
    const qint64 line = random.bounded(int(model.lines.size()));
    return {line, std::int32_t(random.bounded(int(model.lines[line].size()) + 1))};
}

} // namespace

class TestLogStore : public QObject {
    Q_OBJECT
private slots:
    void matchesAPlainListOfLines_data();
    void matchesAPlainListOfLines();
    void aMillionReadingsFitIn40BytesEach();
};

void TestLogStore::matchesAPlainListOfLines_data() {
    QTest::addColumn<int>("chunkChars");
    QTest::addColumn<int>("chunkLines");
    QTest::newRow("one line a chunk") << 1 << 1;
    QTest::newRow("tiny chunks") << 16 << 3;
    QTest::newRow("program's chunks") << 32768 << 2048;
}

void TestLogStore::matchesAPlainListOfLines() {
    QFETCH(int, chunkChars);
    QFETCH(int, chunkLines);
    velt::LogStore store(chunkChars, chunkLines);
    Model model;
    QRandomGenerator random(chunkChars * 31 + chunkLines);
    for (int step = 0; step < 3000; ++step) {
        if (random.bounded(3) == 0) {
            const QString line = randomText(random, false);
            store.appendLine(line);
            model.lines << line;
        } else {
            velt::LogPosition from = randomPosition(random, model),
                              to = randomPosition(random, model);
            if (to < from)
                std::swap(from, to);
            if (random.bounded(4) != 0) // mostly small edits, as a user makes them
                to = {from.line, std::min<std::int32_t>(from.column + random.bounded(3),
                                                        model.lines[from.line].size())};
            const QString text = randomText(random, true);
            const velt::LogPosition after = store.replace(from, to, text);
            model.replace(from, to, text);
            QCOMPARE(model.offsetOf(after), model.offsetOf(from) + text.size());
        }
        QCOMPARE(store.lineCount(), model.lines.size());
        QCOMPARE(store.characterCount(), model.text().size());
        const velt::LogPosition a = randomPosition(random, model),
                                b = randomPosition(random, model);
        QCOMPARE(store.offsetOf(a), model.offsetOf(a));
        QCOMPARE(store.positionAt(model.offsetOf(b)), b);
        QCOMPARE(store.text(std::min(a, b), std::max(a, b)),
                 model.text().mid(model.offsetOf(std::min(a, b)),
                                  model.offsetOf(std::max(a, b)) - model.offsetOf(std::min(a, b))));
    }
    QCOMPARE(store.text(), model.text());
    for (qsizetype i = 0; i < model.lines.size(); ++i)
        QCOMPARE(store.line(i).toString(), model.lines[i]);
}

void TestLogStore::aMillionReadingsFitIn40BytesEach() {
    velt::LogStore store;
    for (int i = 0; i < 1000000; ++i)
        store.appendLine(u"Teplota = 25.0625");
    // 17 UTF-16 characters and a 4-byte line end: 38 bytes and a little for the chunks.
    QVERIFY2(store.memoryBytes() <= 40u * 1000000,
             qPrintable(QString::number(store.memoryBytes())));
    QCOMPARE(store.line(1000000).toString(), QStringLiteral("Teplota = 25.0625"));
}

QTEST_APPLESS_MAIN(TestLogStore)
#include "tst_log_store.moc"
