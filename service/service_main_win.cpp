// The time service's entry: started by the service control manager it runs as the
// service; from a console it runs one of its commands for administrators.
#include <vector>

#include "framework/system_dll_win.h"
#include "framework/text_win.h"
#include "service/console_win.h"
#include "service/service_admin_win.h"
#include "service/service_command.h"
#include "service/time_service_win.h"

int wmain(int argc, wchar_t** argv) {
    // It runs with the right to set the clock: no DLL from beside it, ever.
    RestrictDllSearchToSystemFolder();

    std::vector<CString> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(Narrow(argv[i]));
    const ServiceCommand command = ParseServiceCommand(arguments);
    switch (command.kind) {
        case ServiceCommandKind::kRun:
            if (RunTimeService()) return 0;
            // Not started by the service manager: someone ran it by hand.
            return PrintUsage(command);
        case ServiceCommandKind::kInstall:
            return InstallService(command);
        case ServiceCommandKind::kUninstall:
            return UninstallService();
        case ServiceCommandKind::kAdjust:
            return AdjustByService();
        case ServiceCommandKind::kStatus:
            return PrintServiceStatus();
        case ServiceCommandKind::kHelp:
        case ServiceCommandKind::kInvalid:
            break;
    }
    return PrintUsage(command);
}
