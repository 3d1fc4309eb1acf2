// Linux and other Unix desktops keep the user's number format in the locale variables.
#include "temperature/format.h"

QString velt::systemDecimalSeparator() {
    return decimalSeparatorForLocale(numericLocaleName());
}
