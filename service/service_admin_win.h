// The service's commands for administrators, from a console or a deployment script.
// Each prints what it did in Japanese and returns the process's exit code.
#pragma once

#include "service/service_command.h"

// Creates (or reconfigures) and starts the service, writes the given server and
// protocol into its parameters, registers its event source and makes its data folder.
// 0 when all of it was done, 1 otherwise.
int InstallService(const ServiceCommand& command);
// Stops and deletes the service and its event source; its data folder stays. 0, also
// when there was no service; 1 when it could not be removed.
int UninstallService();
// Asks the service to adjust now and prints its answer: 0 when the clock was set, 1
// when it was not, 2 when there is no service to ask.
int AdjustByService();
// Each machine setting with where it came from, the service's state, its last result
// and its next run. 0.
int PrintServiceStatus();
// The commands' usage. 0 for help; 1 (after naming the argument) for a wrong one.
int PrintUsage(const ServiceCommand& command);
