#pragma once
// A replicated object for the replica manager tests: it carries one number, writes it into every
// message, records every operation the manager calls, and answers with results the test picks.

#include <mutex>
#include <string>
#include <vector>

#include "net/ext/ReplicaManager.h"

namespace velt::replicatest {

// Thread-safe list of events ("obj0 state 11"), shared by the objects of one system.
class EventLog {
public:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    std::vector<std::string> Snapshot() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t Count(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const std::string& e : events_) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class Thing : public Replica {
public:
    Thing(NetworkIDRegistry& registry, bool authority, EventLog& log, int32_t value = 0)
        : Replica(registry), authority_(authority), log_(log), value(value) {}

    bool IsNetworkIDAuthority() const override { return authority_; }

    ReplicaReturnResult WriteConstruction(uint32_t, PlayerID, BitStream* out,
                                          bool* includeTimestamp) override {
        ++writeConstructionCalls;
        out->Write(value);
        *includeTimestamp = timestamp;
        return constructionResult;
    }
    ReplicaReturnResult WriteDestruction(BitStream* out, PlayerID) override {
        out->Write(uint8_t(0xDD));
        return REPLICA_DONE;
    }
    ReplicaReturnResult OnDestruction(BitStream*, PlayerID) override {
        log_.Add(Name() + " destroy");
        if (manager != nullptr) manager->Unregister(this);
        return REPLICA_DONE;
    }
    ReplicaReturnResult WriteScopeChange(bool inScope, BitStream* out, uint32_t, PlayerID) override {
        ++writeScopeCalls;
        out->Write(inScope);
        return scopeResult;
    }
    ReplicaReturnResult OnScopeChange(BitStream* in, PlayerID) override {
        bool inScope = false;
        if (!in->Read(inScope)) return REPLICA_CANCEL_PROCESS;
        log_.Add(Name() + " scope " + (inScope ? "in" : "out"));
        return REPLICA_DONE;
    }
    ReplicaReturnResult WriteState(bool* includeTimestamp, BitStream* out, uint32_t, PacketPriority*,
                                   MessageReliability*, uint32_t, PlayerID participant) override {
        ++writeStateCalls;
        out->Write(value);
        *includeTimestamp = timestamp;
        if (unregisterInWriteState && manager != nullptr) manager->Unregister(this);
        if (removeParticipantInWriteState && manager != nullptr) manager->RemoveParticipant(participant);
        if (repeatsLeft > 0) {
            --repeatsLeft;
            return REPLICA_REPEAT;
        }
        return stateResult;
    }
    ReplicaReturnResult ReadState(BitStream* in, uint32_t timestampIn, uint32_t lastReadTime,
                                  PlayerID) override {
        int32_t received = 0;
        if (!in->Read(received)) return REPLICA_CANCEL_PROCESS;
        value = received;
        lastTimestamp = timestampIn;
        lastReadTimes.push_back(lastReadTime);
        log_.Add(Name() + " state " + std::to_string(received));
        return readResult;
    }

    std::string Name() { return "obj" + std::to_string(GetId().localIndex); }

    ReplicaManager* manager = nullptr;  // the receiving side unregisters on destruction
    bool authority_;
    EventLog& log_;
    int32_t value;
    bool timestamp = false;
    ReplicaReturnResult constructionResult = REPLICA_DONE;
    ReplicaReturnResult scopeResult = REPLICA_DONE;
    ReplicaReturnResult stateResult = REPLICA_DONE;
    ReplicaReturnResult readResult = REPLICA_DONE;
    int repeatsLeft = 0;
    bool unregisterInWriteState = false;
    bool removeParticipantInWriteState = false;
    int writeConstructionCalls = 0;
    int writeScopeCalls = 0;
    int writeStateCalls = 0;
    uint32_t lastTimestamp = 0;
    std::vector<uint32_t> lastReadTimes;
};

}  // namespace velt::replicatest
