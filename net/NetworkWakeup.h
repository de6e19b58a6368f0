#pragma once
// How the network thread waits between two passes: until a datagram arrives on its socket, the
// user thread queues something for it, or the pass interval is over, whichever comes first. A
// fixed sleep would add up to a whole interval to every message's way through the peer, in each
// direction.

#include <atomic>
#include <cstdint>

namespace velt {

class NetworkWakeup {
public:
    NetworkWakeup();
    ~NetworkWakeup();
    NetworkWakeup(const NetworkWakeup&) = delete;
    NetworkWakeup& operator=(const NetworkWakeup&) = delete;

    // Any thread, after queuing work for the network thread. Costs a system call only for the
    // first notice while the network thread waits, and nothing while it is busy.
    void Notify();

    // Network thread, between two passes. Waits at most timeoutMs for socket (-1: none) to have a
    // datagram or for a Notify; 0 only yields, less than 0 returns at once. Under load a datagram
    // still starts the next pass no sooner than minGapUs after the previous wait ended, so that
    // what arrives meanwhile shares one pass; a Notify ends the wait at once, gap or not: the
    // user thread queues its sends in bursts, once per turn of its loop, and each would
    // otherwise wait out the rest of the gap on its way to the wire. hasWork is asked after the
    // thread announced its wait, so work queued meanwhile is never slept through.
    template <class HasWork>
    void Wait(int socket, int32_t timeoutMs, uint32_t minGapUs, HasWork&& hasWork) {
        if (timeoutMs < 0) return;
        if (timeoutMs == 0) {
            Yield();
            return;
        }
        armed_.store(true, std::memory_order_relaxed);
        // Pairs with the fence in Notify: either the producer sees the thread armed, or the
        // thread sees what the producer queued before it notified.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (!hasWork() && !WaitOutGap(minGapUs)) Poll(socket, timeoutMs);
        armed_.store(false, std::memory_order_relaxed);
        lastWakeUs_ = NowUs();
    }

private:
    // Waits for the socket or the event; reads the event when it came.
    void Poll(int socket, int32_t timeoutMs);
    // Waits, deaf to the socket, until minGapUs have passed since the last wait ended or the
    // event comes; true when the event came (read).
    bool WaitOutGap(uint32_t minGapUs);
    void ReadEvent();
    static void Yield();
    static uint64_t NowUs();

    uint64_t lastWakeUs_ = 0;  // network thread

    int eventFd_ = -1;
    // Set while the network thread is about to wait or waits; the first Notify clears it and
    // writes the event. An event written just after the thread stopped waiting makes its next
    // wait end at once, which costs one early pass and loses nothing.
    std::atomic<bool> armed_{false};
};

}  // namespace velt
