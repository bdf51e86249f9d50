#include "connection/result.h"

namespace swb808 {

const char* ErrcName(BoardErrc code) {
    switch (code) {
        case BoardErrc::NoAnswer:
            return "no_answer";
        case BoardErrc::LineLost:
            return "line_lost";
        case BoardErrc::PortInUse:
            return "port_in_use";
        case BoardErrc::PortMissing:
            return "port_missing";
        case BoardErrc::NoPermission:
            return "no_permission";
        case BoardErrc::PortFailed:
            return "port_failed";
        case BoardErrc::NotConnected:
            return "not_connected";
        case BoardErrc::Busy:
            return "busy";
        case BoardErrc::Overloaded:
            return "overloaded";
        case BoardErrc::BadArgument:
            return "bad_argument";
        case BoardErrc::OtherBoard:
            return "other_board";
        case BoardErrc::Stopped:
            return "stopped";
        case BoardErrc::Shutdown:
            return "shutdown";
    }
    return "?";
}

}  // namespace swb808
