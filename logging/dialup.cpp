#include "logging/dialup.h"

namespace {
DWORD NumberOrZero(AutodialValue value) {
    return value.state == AutodialValue::kPresent ? value.number : 0;
}
}  // namespace

AutodialValue AutodialValueFromData(const unsigned char* data, DWORD length) {
    if (length > 4) return AutodialValue::Unreadable();
    DWORD number = 0;
    for (DWORD i = length; i > 0; --i) number = (number << 8) | data[i - 1];
    return AutodialValue::Present(number);
}

int ClassifyAutodial(AutodialValue enableAutodial, AutodialValue noNetAutodial) {
    if (enableAutodial.state == AutodialValue::kUnreadable ||
        noNetAutodial.state == AutodialValue::kUnreadable) {
        return kAutodialNotTrusted;
    }
    DWORD enable = NumberOrZero(enableAutodial);
    DWORD noNet = NumberOrZero(noNetAutodial);
    if (enable == 0) return noNet == 0 ? kAutodialNever : kAutodialNotTrusted;
    if (enable != 1) return kAutodialNotTrusted;
    if (noNet == 1) return kAutodialNever;  // dials only when there is no network at all
    if (noNet == 0) return kAutodialAlways;
    return kAutodialNotTrusted;
}

bool DialupAllowsQuery(int classification, bool connectionActive) {
    if (classification == kAutodialNever) return true;
    if (classification == kAutodialAlways) return connectionActive;
    return false;
}
