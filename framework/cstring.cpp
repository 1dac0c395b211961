#include "framework/cstring.h"

#include <cstdarg>
#include <cstdio>

int CString::ReverseFind(char ch) const {
    size_t at = m_str.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int count) const {
    if (count <= 0) return CString();
    return CString(m_str.c_str(), count < GetLength() ? count : GetLength());
}

// MFC's shape, which the callers use; the compilers check each call's arguments against
// its format (TAV_PRINTF_FORMAT).
void CString::Format(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf's shape
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        // An encoding error in an argument: leave a defined, empty result.
        m_str.clear();
    } else {
        std::string out(static_cast<size_t>(length) + 1, '\0');
        // The format and arguments just measured: the length is known to fit.
        static_cast<void>(std::vsnprintf(&out[0], out.size(), format, args));
        out.resize(static_cast<size_t>(length));
        m_str.swap(out);
    }
    va_end(args);
}
