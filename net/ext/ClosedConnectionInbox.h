#pragma once
// The peer reports a closed connection to its plugins from its network thread, while what a
// plugin keeps per remote system belongs to the thread that runs the peer's receive call. The
// close is handed across here, without a lock, and acted on at the plugin's next update.

#include "net/PlayerID.h"
#include "net/SingleProducerConsumer.h"

namespace velt {

class ClosedConnectionInbox {
public:
    // The network thread (or, once it has stopped, whoever closes the peer).
    void Post(PlayerID remote) {
        *queue_.WriteLock() = remote;
        queue_.WriteUnlock();
    }
    // The receiving thread: hands every posted address to act, oldest first.
    template <class Action>
    void Drain(Action&& act) {
        while (PlayerID* posted = queue_.ReadLock()) {
            const PlayerID remote = *posted;
            queue_.ReadUnlock();
            act(remote);
        }
    }

private:
    DataStructures::SingleProducerConsumer<PlayerID> queue_;
};

}  // namespace velt
