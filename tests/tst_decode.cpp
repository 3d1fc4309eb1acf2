#include "temperature/decode.h"

#include <QTest>

#include <vector>

using velt::decode_temperature;

class TestDecode : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void stopsAtTheFirstZeroByte();
};

void TestDecode::decodes_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<float>("expected");

    QTest::newRow("01 91") << QByteArray::fromHex("0191") << 25.0625f;
    QTest::newRow("01 80") << QByteArray::fromHex("0180") << 24.0f;
    QTest::newRow("FF 5E never sign-extended") << QByteArray::fromHex("ff5e") << 4085.875f;
    QTest::newRow("FF FF FF F0") << QByteArray::fromHex("fffffff0") << -1.0f;
    QTest::newRow("01 00 ends at the zero") << QByteArray::fromHex("0100") << 0.0625f;
    QTest::newRow("00 12 leading zero") << QByteArray::fromHex("0012") << 0.0f;
    QTest::newRow("12 34 56 78 9A keeps last four")
        << QByteArray::fromHex("123456789a") << 54880136.0f;
    QTest::newRow("7F FF FF FF rounds up") << QByteArray::fromHex("7fffffff") << 134217728.0f;
    QTest::newRow("80 00 00 00") << QByteArray::fromHex("80000000") << 8.0f;
    QTest::newRow("80 01 01 01 most negative") << QByteArray::fromHex("80010101") << -134213616.0f;
    QTest::newRow("01 01 01 01 tie to even") << QByteArray::fromHex("01010101") << 1052688.0f;
    QTest::newRow("no bytes") << QByteArray() << 0.0f;
    QTest::newRow("FF one byte") << QByteArray::fromHex("ff") << 15.9375f;
    QTest::newRow("FF FF FF unsigned") << QByteArray::fromHex("ffffff") << 1048575.9375f;
    QTest::newRow("what follows the zero is ignored")
        << QByteArray::fromHex("ffffffff00000191") << -0.0625f;
    QTest::newRow("fifth digit shifted out") << QByteArray::fromHex("01fffffff0") << -1.0f;
    QTest::newRow("long run of FF then 01 91")
        << (QByteArray(40, '\xff') + QByteArray::fromHex("0191")) << -4070.9375f;
}

void TestDecode::decodes() {
    QFETCH(QByteArray, payload);
    QFETCH(float, expected);
    std::vector<std::uint8_t> bytes(payload.begin(), payload.end());
    bytes.push_back(0);
    const float t = decode_temperature(bytes.data());
    QCOMPARE(t, expected);
    QCOMPARE(std::signbit(t), std::signbit(expected));
}

void TestDecode::stopsAtTheFirstZeroByte() {
    // The terminator is the last byte this buffer owns; a read past it would be
    // reported by the sanitizer build.
    auto* bytes = new std::uint8_t[3]{0x01, 0x91, 0x00};
    QCOMPARE(decode_temperature(bytes), 25.0625f);
    delete[] bytes;
}

QTEST_APPLESS_MAIN(TestDecode)
#include "tst_decode.moc"
