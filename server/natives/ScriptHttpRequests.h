#pragma once

// The scripts' HTTP requests: a fixed table of 200 pending requests, each running its transfer
// (HttpClient) on a worker thread of its own, and handed back on the main thread, once per tick,
// to a public of the script that asked.
//
// - A worker owns nothing but its request's client; it hands the finished request over by storing
//   kDone in the state word (release), and the main thread reads the results only after it has
//   seen kDone (acquire). No lock.
// - A response goes only to the very script that asked: same instance and same load (ScriptRef).
//   A script unloaded, or replaced by a new load, before its response arrives gets nothing.
// - A response body that cannot be placed on the script's heap reaches the public as
//   HTTP_ERROR_TOO_LARGE with an empty text, so the script still learns that its request ended.
// - The table's destruction stops every transfer still running and waits for its thread (about a
//   second at most): nothing outlives the game server.

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "server/game/ScriptServices.h"
#include "server/http/HttpClient.h"
#include "server/runtime/ScriptIdentity.h"

namespace velt {

class ScriptHttpRequests final : public HttpRequestPool {
public:
    static constexpr int kSlots = 200;
    // Longest callback name a request keeps; a longer one is refused (it could name no public).
    static constexpr size_t kMaxCallbackName = 39;
    // The referer host every request names.
    static constexpr const char* kRefererHost = "localhost";

    // Starts a joinable thread running entry(arg) into *thread; false when it cannot. Tests
    // replace it to see a refusal.
    using ThreadStarter = bool (*)(pthread_t* thread, void* (*entry)(void*), void* arg);

    explicit ScriptHttpRequests(HttpTimeouts timeouts = {}, ThreadStarter startThread = nullptr);
    ~ScriptHttpRequests() override;
    ScriptHttpRequests(const ScriptHttpRequests&) = delete;
    ScriptHttpRequests& operator=(const ScriptHttpRequests&) = delete;

    // Queues a request of `script` in the lowest free slot and starts its worker. `callback` null
    // or empty: the request runs and its response is dropped. Returns 1 when queued; 0 when every
    // slot is taken, the url is empty, the callback name is too long or no thread could be
    // started (the slot is then free again).
    int AddRequest(int32_t index, int32_t type, const char* url, const char* data, VmInstance* script,
                   const char* callback);

    // Per tick: every finished request, in slot order, goes to its script's public (index,
    // response_code, data) and is freed. Requests still running are left alone.
    void Process() override;

    // Slots taken (queued, running or finished and not yet handed back).
    int Pending() const;
    // Of those, the requests whose transfer has ended, waiting for the next Process.
    int Finished() const;

private:
    struct Request;
    static void* Worker(void* arg);

    HttpTimeouts timeouts_;
    ThreadStarter startThread_;
    std::array<std::unique_ptr<Request>, kSlots> slots_;
};

}  // namespace velt
