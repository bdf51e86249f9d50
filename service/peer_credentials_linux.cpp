#include "service/peer_credentials.h"

#include <sys/socket.h>

namespace swb808::service {

std::optional<PeerCredentials> PeerOf(int socketFd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return std::nullopt;
    return PeerCredentials{cred.uid, cred.pid};
}

}  // namespace swb808::service
