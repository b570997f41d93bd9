#include "tools/pexilctl/StopSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <ctime>

namespace pexil::cli {

StopSignals::StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set_, &previous_) != 0) return;
    blocked_ = true;
    fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) {
        drain();
        ::close(fd_);
    } else if (blocked_) {
        timespec none{};
        while (sigtimedwait(&set_, nullptr, &none) > 0) {
        }
    }
    if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void StopSignals::drain() const {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
}

bool StopSignals::wait(double seconds) const {
    if (seconds < 0) {
        int signal = 0;
        return sigwait(&set_, &signal) == 0;
    }
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_nsec = static_cast<long>((seconds - static_cast<double>(limit.tv_sec)) * 1e9);
    return sigtimedwait(&set_, nullptr, &limit) > 0;
}

}  // namespace pexil::cli
