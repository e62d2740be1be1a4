#include "LineSpeed.h"

#include <cerrno>

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace LineSpeed {

int setAny(int fd, std::int32_t baud)
{
    termios2 line = {};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return errno;
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = static_cast<speed_t>(baud);
    line.c_ospeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &line) == 0 ? 0 : errno;
}

std::int64_t current(int fd)
{
    termios2 line = {};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return -1;
    return line.c_ospeed;
}

} // namespace LineSpeed
