#include "temperature/format.h"

#include <QLocale>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace velt {
namespace {

constexpr int kSignificantDigits = 15;

__extension__ using u128 = unsigned __int128;

// The longest exact expansion of a double has 767 significant digits.
constexpr int kMaxExactDigits = 800;

struct Decimal {
    std::array<char, kMaxExactDigits + 2> digits{}; // ASCII, no leading zero
    int length = 0;
    int point = 0; // value = 0.digits x 10^point
};

int bitWidth128(u128 v) {
    const auto high = static_cast<std::uint64_t>(v >> 64);
    return high != 0 ? 64 + std::bit_width(high) : std::bit_width(static_cast<std::uint64_t>(v));
}

void writeU128(Decimal& d, u128 n) {
    constexpr std::uint64_t kTen19 = 10'000'000'000'000'000'000ULL;
    // At most 39 digits: a leading part and up to two 19-digit groups.
    std::uint64_t groups[2] = {};
    int groupCount = 0;
    while (n > UINT64_MAX) {
        groups[groupCount++] = static_cast<std::uint64_t>(n % kTen19);
        n /= kTen19;
    }
    char* first = d.digits.data();
    char* p = std::to_chars(first, first + d.digits.size(), static_cast<std::uint64_t>(n)).ptr;
    while (groupCount > 0) {
        std::uint64_t group = groups[--groupCount];
        for (int i = 18; i >= 0; --i, group /= 10)
            p[i] = static_cast<char>('0' + group % 10);
        p += 19;
    }
    d.length = static_cast<int>(p - first);
}

// Exact decimal expansion of a finite positive value. Values that arrive as floats
// take the integer path; the rest go through the exact, slower library conversion.
void exactDecimal(double v, Decimal& d) {
    int exp2 = 0;
    const double fraction = std::frexp(v, &exp2);
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    int e = exp2 - 53; // v = mantissa x 2^e
    const int zeros = std::countr_zero(mantissa);
    mantissa >>= zeros;
    e += zeros;

    if (e >= 0 && std::bit_width(mantissa) + e <= 128) {
        writeU128(d, u128{mantissa} << e);
        d.point = d.length;
        return;
    }
    if (e < 0 && -e <= 55) {
        // v = mantissa x 5^k / 10^k
        const int k = -e;
        u128 five = 1;
        for (int i = 0; i < k; ++i)
            five *= 5;
        if (std::bit_width(mantissa) + bitWidth128(five) <= 128) {
            writeU128(d, u128{mantissa} * five);
            d.point = d.length - k;
            return;
        }
    }
    std::array<char, kMaxExactDigits + 16> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), v,
                                      std::chars_format::scientific, kMaxExactDigits - 1);
    // d.ddd...e±XX
    const char* p = text.data();
    d.length = 0;
    for (; p != result.ptr && *p != 'e'; ++p)
        if (*p != '.')
            d.digits[static_cast<std::size_t>(d.length++)] = *p;
    int exponent10 = 0;
    std::from_chars(p + 1 + (p[1] == '+'), result.ptr, exponent10);
    d.point = exponent10 + 1;
}

// The 16th digit alone decides: five or more rounds away from zero, whatever follows.
// So a value lying exactly half-way (24.00006103515625) rounds up, to 24.0000610351563.
void roundToSignificant(Decimal& d) {
    if (d.length > kSignificantDigits) {
        const bool up = d.digits[kSignificantDigits] >= '5';
        d.length = kSignificantDigits;
        if (up) {
            int i = kSignificantDigits - 1;
            while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9')
                d.digits[static_cast<std::size_t>(i--)] = '0';
            if (i >= 0) {
                ++d.digits[static_cast<std::size_t>(i)];
            } else {
                d.digits[0] = '1';
                d.length = 1;
                ++d.point;
            }
        }
    }
    while (d.length > 1 && d.digits[static_cast<std::size_t>(d.length - 1)] == '0')
        --d.length;
}

void appendDigits(QString& out, const char* digits, int count) {
    for (int i = 0; i < count; ++i)
        out.append(QChar(digits[i]));
}

void appendZeros(QString& out, int count) {
    for (int i = 0; i < count; ++i)
        out.append(QChar('0'));
}

} // namespace

void appendFloatToStr(QString& out, double value, QStringView decimalSeparator) {
    if (std::isnan(value)) {
        out.append(QLatin1String("NAN"));
        return;
    }
    if (std::signbit(value) && value != 0)
        out.append(QChar('-'));
    value = std::fabs(value);
    if (std::isinf(value)) {
        out.append(QLatin1String("INF"));
        return;
    }
    if (value == 0) {
        out.append(QChar('0'));
        return;
    }

    Decimal d;
    exactDecimal(value, d);
    roundToSignificant(d);
    const char* digits = d.digits.data();

    const bool fixed = d.point >= -4 && d.point <= kSignificantDigits;
    if (!fixed) {
        appendDigits(out, digits, 1);
        if (d.length > 1) {
            out.append(decimalSeparator);
            appendDigits(out, digits + 1, d.length - 1);
        }
        std::array<char, 8> exponent{};
        const auto end =
            std::to_chars(exponent.data(), exponent.data() + exponent.size(), d.point - 1).ptr;
        out.append(QChar('E'));
        appendDigits(out, exponent.data(), static_cast<int>(end - exponent.data()));
    } else if (d.point <= 0) {
        out.append(QChar('0'));
        out.append(decimalSeparator);
        appendZeros(out, -d.point);
        appendDigits(out, digits, d.length);
    } else if (d.point < d.length) {
        appendDigits(out, digits, d.point);
        out.append(decimalSeparator);
        appendDigits(out, digits + d.point, d.length - d.point);
    } else {
        appendDigits(out, digits, d.length);
        appendZeros(out, d.point - d.length);
    }
}

QString floatToStr(double value, QStringView decimalSeparator) {
    QString text;
    appendFloatToStr(text, value, decimalSeparator);
    return text;
}

QString countText(std::int32_t count) {
    return QString::number(count);
}

QString numericLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("C");
}

QString decimalSeparatorForLocale(const QString& localeName) {
    if (localeName == u"C" || localeName == u"POSIX" || localeName.startsWith(u"C."))
        return QStringLiteral(".");
    const QString separator = QLocale(localeName).decimalPoint();
    return separator.isEmpty() ? QStringLiteral(".") : separator;
}

QStringView userDecimalSeparator() {
    static const QString separator = systemDecimalSeparator();
    return separator;
}

} // namespace velt
