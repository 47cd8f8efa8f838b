#include "linerate.h"

// Linux keeps rates that have no B-constant (14400) only in termios2; the struct clashes with
// <termios.h>, so this file includes the kernel's header alone.
#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#else
#include <termios.h>
#endif

namespace sensorsim {

std::optional<int> LineRate(int fd) {
#ifdef __linux__
    // On a pty master the kernel answers with the slave's settings, the program's side.
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(settings.c_ospeed);
#else
    // The BSDs and macOS keep the rate itself in speed_t.
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(cfgetospeed(&settings));
#endif
}

} // namespace sensorsim
