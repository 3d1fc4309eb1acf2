#pragma once
// How figures become text on screen. Digits never depend on the C library's or Qt's
// current locale; only the decimal separator comes from the user's locale settings.

#include <QString>
#include <QStringView>

#include <cstdint>

namespace velt {

// General format with at most 15 significant digits, rounded from the exact binary
// value: trailing zeros and a bare separator dropped, a leading minus, no grouping;
// fixed notation from 0.00001 up to 15 integer digits, otherwise scientific such as
// "7.62939453125E-6". Appends to `out` so that a caller can build a line without a
// temporary.
void appendFloatToStr(QString& out, double value, QStringView decimalSeparator);
QString floatToStr(double value, QStringView decimalSeparator);

// What printf's "%i" gives for the count.
QString countText(std::int32_t count);

// The locale name that decides number formatting: LC_ALL, then LC_NUMERIC, then LANG,
// as the desktop reads them; "C" when none is set.
QString numericLocaleName();
QString decimalSeparatorForLocale(const QString& localeName);
// The separator of the user's settings where the platform keeps them: on Linux the
// locale that numericLocaleName names; on Windows the regional settings, a separator the
// user typed there included. Read anew each call.
QString systemDecimalSeparator();
// The same, read once, for every figure of the run.
QStringView userDecimalSeparator();

} // namespace velt
