#include "app/app_state.h"

unsigned short traceFlags = 0;

namespace {
CString& ProfilePathSlot() {
    static CString path;
    return path;
}
}  // namespace

const CString& AppProfilePath() { return ProfilePathSlot(); }

void SetAppProfilePath(const CString& path) { ProfilePathSlot() = path; }
