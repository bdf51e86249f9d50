#include "sim/line_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace swb808::sim {

unsigned ReadLineRate(int masterFd) {
    struct termios2 tio {};
    if (ioctl(masterFd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ispeed != 0 ? tio.c_ispeed : tio.c_ospeed;
}

bool SetLineRate(int fd, unsigned rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace swb808::sim
