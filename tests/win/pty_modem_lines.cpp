// Loaded into wine by scripts/wine_test.sh (LD_PRELOAD), never into the
// programs themselves. A pseudo-terminal has no modem lines: TIOCMGET fails
// on it, and wine's serial code then cancels a pending WaitCommEvent the
// first time its poll wakes, so the port's watch never takes the path a real
// port takes (the wait pends until a byte comes). Here the modem-line
// ioctls of a pseudo-terminal are answered as a cable would: DSR, CTS and
// DCD on, DTR and RTS as last set. Every other descriptor and request goes
// to the C library untouched.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>

namespace {
using IoctlFn = int (*)(int, unsigned long, ...);

std::atomic<int> g_outputs{TIOCM_DTR | TIOCM_RTS};
constexpr int kInputs = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;

/// The slave side of a Unix 98 pseudo-terminal (/dev/pts/N: majors 136 to 143).
bool PseudoTerminal(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}
}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    static const IoctlFn real = reinterpret_cast<IoctlFn>(::dlsym(RTLD_NEXT, "ioctl"));
    const bool modem = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    const int saved = errno;
    const int r = real(fd, request, arg);
    if (r == 0 || !modem || (errno != EINVAL && errno != ENOTTY) || arg == nullptr || !PseudoTerminal(fd)) return r;
    const int bits = *static_cast<int*>(arg) & (TIOCM_DTR | TIOCM_RTS);
    switch (request) {
        case TIOCMGET: *static_cast<int*>(arg) = kInputs | g_outputs.load(); break;
        case TIOCMSET: g_outputs.store(bits); break;
        case TIOCMBIS: g_outputs.fetch_or(bits); break;
        case TIOCMBIC: g_outputs.fetch_and(~bits); break;
    }
    errno = saved;
    return 0;
}
