#pragma once

#include <cstdint>

// Line speeds through Linux's termios2, which takes any rate in baud rather
// than only those <termios.h> has a Bxxx constant for (250000 for 3D
// printers, 74880 for ESP8266 boot messages). termios2 and glibc's termios
// cannot share a translation unit, hence these two wrappers of their own.
//
// Both are thin ioctl wrappers and report as the ioctl does.
namespace LineSpeed {

// Sets input and output speed to `baud`, leaving every other setting alone.
// 0, or the errno of the failed call.
int setAny(int fd, std::int32_t baud);

// The output speed the driver says the line runs, in baud; -1 (errno set)
// when it cannot be read. Filled in by the kernel however the speed was set.
std::int64_t current(int fd);

} // namespace LineSpeed
