#include "ui/status_texts.h"

#include "framework/crt_time.h"

CString RetryIntervalText(int value, int unit) {
    const char* letter = unit == 0 ? "s" : unit == 1 ? "m" : unit == 2 ? "h" : "";
    CString text;
    text.Format("%i%s", value, letter);
    return text;
}

CString AdjustAtText(int hour, int minute) {
    CString text;
    text.Format("%02i:%02i", hour, minute);
    return text;
}

CString ClockDisplayText(long long seconds, int format) {
    const char* layout = format == 1 ? "%c" : format == 2 ? "%a %b %d %H:%M:%S %Y" : "%X";
    return CTime(seconds).Format(layout);
}
