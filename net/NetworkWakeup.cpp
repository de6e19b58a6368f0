#include "net/NetworkWakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace velt {

NetworkWakeup::NetworkWakeup() : eventFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

NetworkWakeup::~NetworkWakeup() {
    if (eventFd_ != -1) ::close(eventFd_);
}

void NetworkWakeup::Notify() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!armed_.load(std::memory_order_relaxed) || !armed_.exchange(false, std::memory_order_relaxed)) return;
    if (eventFd_ == -1) return;
    const uint64_t one = 1;
    ssize_t written;
    do {
        written = ::write(eventFd_, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}

void NetworkWakeup::Poll(int socket, int32_t timeoutMs) {
    pollfd fds[2];
    nfds_t count = 0;
    if (eventFd_ != -1) fds[count++] = pollfd{eventFd_, POLLIN, 0};
    if (socket != -1) fds[count++] = pollfd{socket, POLLIN, 0};
    // A signal cuts the wait short: that only makes the next pass come early.
    if (::poll(fds, count, timeoutMs) <= 0) return;
    if (eventFd_ != -1 && (fds[0].revents & POLLIN) != 0) ReadEvent();
}

bool NetworkWakeup::WaitOutGap(uint32_t minGapUs) {
    const uint64_t since = NowUs() - lastWakeUs_;
    if (since >= minGapUs) return false;
    const uint64_t rest = minGapUs - since;
    const timespec until{time_t(rest / 1000000u), long(rest % 1000000u) * 1000L};
    if (eventFd_ == -1) {
        timespec request = until;
        timespec remaining;
        while (::nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
        return false;
    }
    pollfd event{eventFd_, POLLIN, 0};
    // A signal cuts the gap short: the pass only comes early.
    if (::ppoll(&event, 1, &until, nullptr) <= 0 || (event.revents & POLLIN) == 0) return false;
    ReadEvent();
    return true;
}

void NetworkWakeup::ReadEvent() {
    uint64_t value;
    (void)!::read(eventFd_, &value, sizeof value);
}

void NetworkWakeup::Yield() {
    timespec none{0, 0};
    ::nanosleep(&none, nullptr);
}

uint64_t NetworkWakeup::NowUs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

}  // namespace velt
