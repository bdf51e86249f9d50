#pragma once

// Who is on the other end of a local socket, as the kernel tells it.

#include <sys/types.h>
#include <optional>

namespace swb808::service {

struct PeerCredentials {
    uid_t uid = 0;
    pid_t pid = 0;
};

std::optional<PeerCredentials> PeerOf(int socketFd);

}  // namespace swb808::service
