#pragma once

// The commands. Each returns its exit status or throws CliFailure / Interrupted.

#include "cli/arguments.h"
#include "cli/exit_status.h"
#include "cli/output.h"

namespace swb808::cli {

ExitStatus RunInfo(const Request& request, Output& out);
ExitStatus RunRelay(const Request& request, Output& out);
ExitStatus RunRelays(const Request& request, Output& out);
ExitStatus RunInputs(const Request& request, Output& out);
ExitStatus RunSupply(const Request& request, Output& out);
ExitStatus RunConfig(const Request& request, Output& out);
ExitStatus RunConfigSet(const Request& request, Output& out);
ExitStatus RunReset(const Request& request, Output& out);
ExitStatus RunScan(const Request& request, Output& out);
ExitStatus RunWatch(const Request& request, Output& out);
ExitStatus RunFlash(const Request& request, Output& out);

ExitStatus RunCommand(const Request& request, Output& out);

}  // namespace swb808::cli
