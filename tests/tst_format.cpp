#include "temperature/format.h"

#include <QRandomGenerator>
#include <QTest>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

class TestFormat : public QObject {
    Q_OBJECT
private slots:
    void floatToStr_data();
    void floatToStr();
    void agreesWithExactConversionOnRandomFloats();
    void countText_data();
    void countText();
    void separatorForLocale_data();
    void separatorForLocale();
    void localeVariablePrecedence_data();
    void localeVariablePrecedence();
};

void TestFormat::floatToStr_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");

    struct Row {
        const char* name;
        double value;
        const char* point;
        const char* comma;
    };
    const Row rows[] = {
        {"reading", 25.0625, "25.0625", "25,0625"},
        {"whole number", 24, "24", "24"},
        {"zero", 0, "0", "0"},
        {"negative zero", -0.0, "0", "0"},
        {"negative", -4085.875, "-4085.875", "-4085,875"},
        {"largest reading", 134217728, "134217728", "134217728"},
        {"most negative reading", -134213616, "-134213616", "-134213616"},
        {"rounded reading", 54880136, "54880136", "54880136"},
        {"smallest step", 0.0625, "0.0625", "0,0625"},
        {"average after 0.0625 and 13 zeros", 0.0625 / 8192, "7.62939453125E-6",
         "7,62939453125E-6"},
        {"0.00001 stays fixed", 0.00001, "0.00001", "0,00001"},
        {"just below 0.00001", 0.0000099999, "9.9999E-6", "9,9999E-6"},
        {"float nearest 0.00001 lies below it", double{0.00001f}, "9.99999974737875E-6",
         "9,99999974737875E-6"},
        {"rounds up into fixed notation", 0.0000099999999999999995, "0.00001", "0,00001"},
        {"15 integer digits", 999999999999999, "999999999999999", "999999999999999"},
        {"16 integer digits", 1234567890123456, "1.23456789012346E15", "1,23456789012346E15"},
        {"10^15", 1e15, "1E15", "1E15"},
        {"negative scientific", -1e20, "-1E20", "-1E20"},
        {"16th-digit tie rounds away from zero", 24.00006103515625, "24.0000610351563",
         "24,0000610351563"},
        {"negative tie", -24.00006103515625, "-24.0000610351563", "-24,0000610351563"},
        {"carry through nines", 9.999999999999999, "10", "10"},
        {"one third", 1.0 / 3, "0.333333333333333", "0,333333333333333"},
        {"two thirds", 2.0 / 3, "0.666666666666667", "0,666666666666667"},
        {"binary fraction", double{24.0f + 1.0f / 524288}, "24.0000019073486", "24,0000019073486"},
        {"smallest float", double{std::numeric_limits<float>::denorm_min()}, "1.40129846432482E-45",
         "1,40129846432482E-45"},
        {"very small double", 1e-300, "1E-300", "1E-300"},
        {"largest float", double{std::numeric_limits<float>::max()}, "3.40282346638529E38",
         "3,40282346638529E38"},
    };
    for (const Row& row : rows) {
        QTest::addRow("%s, point", row.name)
            << row.value << QStringLiteral(".") << QString::fromLatin1(row.point);
        QTest::addRow("%s, comma", row.name)
            << row.value << QStringLiteral(",") << QString::fromLatin1(row.comma);
    }
    QTest::newRow("separator longer than one character")
        << 25.0625 << QStringLiteral("٫") << QStringLiteral("25٫0625");
}

void TestFormat::floatToStr() {
    QFETCH(double, value);
    QFETCH(QString, separator);
    QTEST(velt::floatToStr(value, separator), "expected");
}

// Every float the statistics can hold, checked against the library's exact, differently
// built conversion. Ties at the 16th digit are the one place the two may differ.
void TestFormat::agreesWithExactConversionOnRandomFloats() {
    QRandomGenerator random(20261207);
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        float f;
        const quint32 bits = random.generate();
        std::memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f) || f == 0)
            continue;
        char text[64];
        const auto end = std::to_chars(text, text + sizeof text, std::fabs(double{f}),
                                       std::chars_format::scientific, 40)
                             .ptr;
        const QByteArray exact(text, end - text);
        const int e = exact.indexOf('e');
        if (exact.mid(17, e - 17).count('0') == e - 17 && exact[16] == '5')
            continue;

        char rounded[64];
        const auto stop = std::to_chars(rounded, rounded + sizeof rounded, double{f},
                                        std::chars_format::scientific, 14)
                              .ptr;
        const QString ours = velt::floatToStr(f, u".");
        // Compare significant digits and magnitude, not the layout.
        QString digits = ours;
        digits.remove(u'-').remove(u'.');
        const int sci = digits.indexOf(u'E');
        if (sci >= 0)
            digits.truncate(sci);
        while (digits.startsWith(u'0'))
            digits.remove(0, 1);
        while (digits.endsWith(u'0'))
            digits.chop(1);
        QString expected = QString::fromLatin1(rounded, stop - rounded);
        expected.truncate(expected.indexOf(u'e'));
        expected.remove(u'-').remove(u'.');
        while (expected.endsWith(u'0'))
            expected.chop(1);
        QCOMPARE(digits, expected);
        QCOMPARE(ours.startsWith(u'-'), f < 0);
        ++compared;
    }
    QVERIFY(compared > 190000);
}

void TestFormat::countText_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("zero") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("no grouping") << 1234567;
    QTest::newRow("maximum") << std::numeric_limits<int>::max();
    QTest::newRow("negative") << -1;
    QTest::newRow("minimum") << std::numeric_limits<int>::min();
}

void TestFormat::countText() {
    QFETCH(int, count);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%i", count);
    QCOMPARE(velt::countText(count), QString::fromLatin1(expected));
}

void TestFormat::separatorForLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("separator");
    QTest::newRow("C") << "C"
                       << ".";
    QTest::newRow("POSIX") << "POSIX"
                           << ".";
    QTest::newRow("C.UTF-8") << "C.UTF-8"
                             << ".";
    QTest::newRow("Czech with codeset") << "cs_CZ.UTF-8"
                                        << ",";
    QTest::newRow("Czech") << "cs_CZ"
                           << ",";
    QTest::newRow("German with modifier") << "de_DE.UTF-8@euro"
                                          << ",";
    QTest::newRow("US English") << "en_US.UTF-8"
                                << ".";
    QTest::newRow("unknown") << "xx_YY"
                             << ".";
}

void TestFormat::separatorForLocale() {
    QFETCH(QString, locale);
    QTEST(velt::decimalSeparatorForLocale(locale), "separator");
}

void TestFormat::localeVariablePrecedence_data() {
    QTest::addColumn<QString>("lcAll");
    QTest::addColumn<QString>("lcNumeric");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("expected");
    QTest::newRow("LC_ALL wins") << "cs_CZ.UTF-8"
                                 << "en_US.UTF-8"
                                 << "en_US.UTF-8"
                                 << "cs_CZ.UTF-8";
    QTest::newRow("LC_NUMERIC over LANG") << ""
                                          << "cs_CZ.UTF-8"
                                          << "en_US.UTF-8"
                                          << "cs_CZ.UTF-8";
    QTest::newRow("LANG alone") << ""
                                << ""
                                << "cs_CZ.UTF-8"
                                << "cs_CZ.UTF-8";
    QTest::newRow("nothing set") << ""
                                 << ""
                                 << ""
                                 << "C";
}

void TestFormat::localeVariablePrecedence() {
    QFETCH(QString, lcAll);
    QFETCH(QString, lcNumeric);
    QFETCH(QString, lang);
    const auto set = [](const char* name, const QString& value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    };
    set("LC_ALL", lcAll);
    set("LC_NUMERIC", lcNumeric);
    set("LANG", lang);
    QTEST(velt::numericLocaleName(), "expected");
}

QTEST_APPLESS_MAIN(TestFormat)
#include "tst_format.moc"
