#include "serial/posix_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace swb808::posix {

namespace {
int ioctlResult(int r) {
    return r == 0 ? 0 : errno;
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}
}  // namespace

int GetLine(int fd, LineParams& out) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    out.baud = tio.c_ospeed;
    out.dataBits = dataBitsOf(tio.c_cflag);
    if (!(tio.c_cflag & PARENB))
        out.parity = 0;
    else if (tio.c_cflag & CMSPAR)
        out.parity = (tio.c_cflag & PARODD) ? 3 : 4;
    else
        out.parity = (tio.c_cflag & PARODD) ? 1 : 2;
    out.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return 0;
}

int SetRawLine(int fd, const LineParams& p) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (p.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    switch (p.parity) {
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (p.stopBits >= 2) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = p.baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;

    struct termios2 back {};
    if (ioctl(fd, TCGETS2, &back) != 0) return errno;
    const auto off = [&](speed_t got) {
        const uint64_t diff = got > p.baud ? got - p.baud : p.baud - got;
        return diff * 50 > p.baud;  // more than 2 %
    };
    if (off(back.c_ospeed) || (back.c_ispeed != 0 && off(back.c_ispeed))) return EINVAL;
    return 0;
}

int SetModemLines(int fd, bool dtr, bool rts) {
    int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int clear = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if (set != 0 && ioctl(fd, TIOCMBIS, &set) != 0 && errno != ENOTTY && errno != EINVAL)
        return errno;
    if (clear != 0 && ioctl(fd, TIOCMBIC, &clear) != 0 && errno != ENOTTY && errno != EINVAL)
        return errno;
    return 0;
}

int OutQueue(int fd, int& count) {
    return ioctlResult(ioctl(fd, TIOCOUTQ, &count));
}

int Flush(int fd, bool input, bool output) {
    if (!input && !output) return 0;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ioctlResult(ioctl(fd, TCFLSH, which));
}

int SetExclusive(int fd, bool on) {
    return ioctlResult(ioctl(fd, on ? TIOCEXCL : TIOCNXCL));
}

bool IsExclusive(int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

}  // namespace swb808::posix
