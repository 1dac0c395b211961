// The time service's command line. Without arguments the service control manager
// starts it as a service; an administrator gives it one command from a console.
#pragma once

#include <vector>

#include "engine/protocol.h"
#include "framework/cstring.h"

enum class ServiceCommandKind {
    kRun,        // no arguments: run as the service
    kInstall,    // install [/server=NAME] [/protocol=SNTP|TIME|DAYTIME]
    kUninstall,  // uninstall
    kAdjust,     // adjust: ask the running service to adjust now
    kStatus,     // status: the machine settings, the last result, the next run
    kHelp,       // help, /?, -h: the usage
    kInvalid,    // anything else; error says what
};

struct ServiceCommand {
    ServiceCommandKind kind = ServiceCommandKind::kInvalid;
    CString server;          // install: the /server= value, empty when not given
    bool hasProtocol = false;
    Protocol protocol = kProtocolSntp;  // install: the /protocol= value
    CString error;           // kInvalid: the argument that was not understood
};

// The arguments after the program's name. Commands and switches in any letter case;
// a switch may begin with / or -.
ServiceCommand ParseServiceCommand(const std::vector<CString>& arguments);
