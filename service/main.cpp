// swb808d: the boards as a service on the network.
#include <cstdio>
#include <string>
#include <vector>

#include "service/config.h"
#include "service/daemon.h"
#include "service/tokens.h"

int main(int argc, char** argv) {
    using namespace swb808::service;
    const std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    try {
        line = ParseCommandLine(args);
    } catch (const ConfigError& e) {
        std::fprintf(stderr, "swb808d: %s\n%s", e.what(), UsageText().c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (line.tokenCommand) {
        const auto role = RoleFromName(line.token.role);
        if (!role) {
            std::fprintf(stderr, "swb808d: the role is viewer, operator or admin\n");
            return 2;
        }
        try {
            const std::string token = AddToken(line.token.tokensFile, line.token.name, *role);
            std::printf("%s\n", token.c_str());
            std::fprintf(stderr, "swb808d: token \"%s\" (%s) added to %s; it is shown only now\n",
                         line.token.name.c_str(), RoleName(*role), line.token.tokensFile.c_str());
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "swb808d: %s\n", e.what());
            return 1;
        }
    }
    return RunDaemon(line.config);
}
