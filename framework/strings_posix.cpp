#include "framework/strings.h"

#include "res/string_ids.h"

// The entries that the portable core loads, as the resource script has them.
CString LoadAppString(unsigned id) {
    switch (id) {
        case IDS_HOST_NOT_FOUND: return "HostNotFound";
        case IDS_TITLE: return "Tavrino ";
        default: return CString();
    }
}
