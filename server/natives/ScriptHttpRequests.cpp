#include "server/natives/ScriptHttpRequests.h"

#include <cstdio>
#include <cstring>

#include "server/runtime/CallbackDispatch.h"

namespace velt {

namespace {

enum RequestState : int { kQueued = 1, kRunning = 2, kDone = 3 };

// Plenty for a transfer over plain HTTP; the default would reserve 8 MiB per pending request.
constexpr size_t kWorkerStackBytes = 1024 * 1024;

bool StartJoinableThread(pthread_t* thread, void* (*entry)(void*), void* arg) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setstacksize(&attr, kWorkerStackBytes);
    const bool ok = pthread_create(thread, &attr, entry, arg) == 0;
    pthread_attr_destroy(&attr);
    return ok;
}

}  // namespace

struct ScriptHttpRequests::Request {
    explicit Request(HttpTimeouts timeouts) : client(nullptr, timeouts) {}

    HttpClient client;  // the worker's alone until state is kDone
    std::atomic<int> state{kQueued};
    std::atomic<bool> cancel{false};
    // Written before the worker starts, read-only afterwards.
    int32_t index = 0;
    int32_t type = 0;
    std::string url;
    std::string data;
    bool noCallback = false;
    ScriptRef script;
    char callback[kMaxCallbackName + 1] = {};
    pthread_t thread{};
};

ScriptHttpRequests::ScriptHttpRequests(HttpTimeouts timeouts, ThreadStarter startThread)
    : timeouts_(timeouts), startThread_(startThread != nullptr ? startThread : &StartJoinableThread) {
    HttpClient::GlobalInit();
}

ScriptHttpRequests::~ScriptHttpRequests() {
    for (auto& r : slots_) {
        if (r) r->cancel.store(true, std::memory_order_relaxed);
    }
    for (auto& r : slots_) {
        if (r) pthread_join(r->thread, nullptr);
    }
}

void* ScriptHttpRequests::Worker(void* arg) {
    auto* r = static_cast<Request*>(arg);
    r->state.store(kRunning, std::memory_order_relaxed);
    r->client.ProcessRequest(r->type, r->url, r->data, kRefererHost, &r->cancel);
    // The last touch of the record: from here the main thread may free it.
    r->state.store(kDone, std::memory_order_release);
    return nullptr;
}

int ScriptHttpRequests::AddRequest(int32_t index, int32_t type, const char* url, const char* data,
                                   VmInstance* script, const char* callback) {
    if (url == nullptr || url[0] == '\0') return 0;
    if (callback == nullptr) callback = "";
    if (std::strlen(callback) > kMaxCallbackName) return 0;
    int slot = -1;
    for (int i = 0; i < kSlots; ++i) {
        if (!slots_[static_cast<size_t>(i)]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return 0;

    auto request = std::make_unique<Request>(timeouts_);
    request->index = index;
    request->type = type;
    request->url = url;
    request->data = data != nullptr ? data : "";
    request->noCallback = callback[0] == '\0';
    request->script = LiveScriptRef(script);
    std::snprintf(request->callback, sizeof request->callback, "%s", callback);

    Request* raw = request.get();
    slots_[static_cast<size_t>(slot)] = std::move(request);
    if (!startThread_(&raw->thread, &Worker, raw)) {
        slots_[static_cast<size_t>(slot)].reset();
        return 0;
    }
    return 1;
}

void ScriptHttpRequests::Process() {
    for (auto& slot : slots_) {
        if (!slot || slot->state.load(std::memory_order_acquire) != kDone) continue;
        pthread_join(slot->thread, nullptr);
        // Out of the table before the public runs: whatever the script does meanwhile (new
        // requests included) cannot reach this record.
        const std::unique_ptr<Request> r = std::move(slot);
        if (r->noCallback || !IsScriptAlive(r->script)) continue;
        const int32_t pub = FindScriptPublic(r->script.instance, r->callback);
        if (pub < 0) continue;
        const HttpClient& client = r->client;
        const bool ok = client.Error() == HTTP_ERROR_NONE;
        int32_t ignored = 0;
        if (RunScriptPublic(r->script, pub, ignored, r->index, ok ? client.Status() : client.Error(),
                            ok ? client.Body().c_str() : ""))
            continue;
        // Still alive and not run: the body did not fit on the script's heap.
        if (ok && IsScriptAlive(r->script))
            RunScriptPublic(r->script, pub, ignored, r->index, static_cast<int32_t>(HTTP_ERROR_TOO_LARGE),
                            "");
    }
}

int ScriptHttpRequests::Pending() const {
    int n = 0;
    for (const auto& r : slots_) n += r ? 1 : 0;
    return n;
}

int ScriptHttpRequests::Finished() const {
    int n = 0;
    for (const auto& r : slots_) n += r && r->state.load(std::memory_order_acquire) == kDone ? 1 : 0;
    return n;
}

}  // namespace velt
