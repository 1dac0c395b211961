#include "framework/scan.h"

#include <climits>

namespace {

bool IsScanSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

int DigitValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return 99;
}

// One "%i" conversion at *cursor; false (cursor unchanged) when no number starts there.
bool ScanOne(const char** cursor, int* value) {
    const char* p = *cursor;
    while (IsScanSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    if (DigitValue(*p) >= base) return false;
    // Accumulated beyond int's range only as far as it takes to know it is beyond.
    const long long limit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; DigitValue(*p) < base; ++p) {
        if (magnitude <= limit) magnitude = magnitude * base + DigitValue(*p);
    }
    if (negative) {
        *value = magnitude >= limit ? INT_MIN : static_cast<int>(-magnitude);
    } else {
        *value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
    }
    *cursor = p;
    return true;
}

}  // namespace

int ScanIntegers(const char* text, const char* separators, int* values, int count) {
    if (!text) return 0;
    const char* cursor = text;
    for (int read = 0; read < count; ++read) {
        if (read > 0) {
            if (*cursor != separators[read - 1]) return read;
            ++cursor;
        }
        if (!ScanOne(&cursor, &values[read])) return read;
    }
    return count;
}
