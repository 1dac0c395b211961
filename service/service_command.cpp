#include "service/service_command.h"

#include <cctype>
#include <string>

namespace {

std::string Lower(const CString& text) {
    std::string lower(text.GetString(), static_cast<std::size_t>(text.GetLength()));
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return lower;
}

// The value of a switch "/name=value" or "-name=value" (name in any case); false when
// the argument is not that switch.
bool SwitchValue(const CString& argument, const char* name, CString* value) {
    const std::string lower = Lower(argument);
    if (lower.empty() || (lower[0] != '/' && lower[0] != '-')) return false;
    const std::string prefix = std::string(name) + "=";
    if (lower.compare(1, prefix.size(), prefix) != 0) return false;
    const std::size_t start = 1 + prefix.size();
    *value = CString(argument.GetString() + start, argument.GetLength() - static_cast<int>(start));
    return true;
}

ServiceCommand Invalid(const CString& argument) {
    ServiceCommand command;
    command.kind = ServiceCommandKind::kInvalid;
    command.error = argument;
    return command;
}

}  // namespace

ServiceCommand ParseServiceCommand(const std::vector<CString>& arguments) {
    ServiceCommand command;
    if (arguments.empty()) {
        command.kind = ServiceCommandKind::kRun;
        return command;
    }
    const std::string verb = Lower(arguments[0]);
    if (verb == "install") {
        command.kind = ServiceCommandKind::kInstall;
    } else if (verb == "uninstall") {
        command.kind = ServiceCommandKind::kUninstall;
    } else if (verb == "adjust") {
        command.kind = ServiceCommandKind::kAdjust;
    } else if (verb == "status") {
        command.kind = ServiceCommandKind::kStatus;
    } else if (verb == "help" || verb == "/?" || verb == "-?" || verb == "/h" || verb == "-h") {
        command.kind = ServiceCommandKind::kHelp;
    } else {
        return Invalid(arguments[0]);
    }

    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const CString& argument = arguments[i];
        CString value;
        if (command.kind != ServiceCommandKind::kInstall) return Invalid(argument);
        if (SwitchValue(argument, "server", &value)) {
            // A name with a blank or a control character is no server's name, and an
            // empty one would make the service ask this PC itself.
            bool plain = !value.IsEmpty();
            for (int at = 0; at < value.GetLength(); ++at) {
                if (static_cast<unsigned char>(value.GetAt(at)) <= ' ') plain = false;
            }
            if (!plain || !command.server.IsEmpty()) return Invalid(argument);
            command.server = value;
        } else if (SwitchValue(argument, "protocol", &value)) {
            const std::string name = Lower(value);
            if (command.hasProtocol) return Invalid(argument);
            if (name == "sntp") {
                command.protocol = kProtocolSntp;
            } else if (name == "time") {
                command.protocol = kProtocolTime;
            } else if (name == "daytime") {
                command.protocol = kProtocolDaytime;
            } else {
                return Invalid(argument);
            }
            command.hasProtocol = true;
        } else {
            return Invalid(argument);
        }
    }
    return command;
}
