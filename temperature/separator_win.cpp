// Windows keeps the user's number format in the regional settings, where a user can type a
// separator of their own; GetLocaleInfoEx gives it as set, up to three characters.
#include "temperature/format.h"

#include <windows.h>

QString velt::systemDecimalSeparator() {
    wchar_t separator[LOCALE_NAME_MAX_LENGTH] = {};
    const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator,
                                         LOCALE_NAME_MAX_LENGTH);
    const QString text = length > 1 ? QString::fromWCharArray(separator, length - 1) : QString();
    return text.isEmpty() ? QStringLiteral(".") : text;
}
