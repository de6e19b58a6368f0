#include "server/http/HttpClient.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velt {

namespace {

bool HasControlChar(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

// What the transfer callbacks share with the request.
struct Transfer {
    std::string* body = nullptr;
    size_t received = 0;  // header and body bytes
    size_t headerBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool>* cancel = nullptr;
};

// Counts what arrived against the response limit; false once it is passed.
bool Receive(Transfer& t, size_t bytes) {
    t.received += bytes;
    if (t.received > kHttpMaxResponse) t.tooLarge = true;
    return !t.tooLarge;
}

size_t OnHeader(char* /*data*/, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    t.headerBytes += size * count;
    // libcurl gives up on a header block a little beyond this on its own, with an error that
    // cannot be told from a dropped connection; stopping first reports it as what it is.
    if (t.headerBytes > kHttpMaxHeader) t.tooLarge = true;
    return Receive(t, size * count) ? size * count : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (!Receive(t, bytes)) return 0;
    t.body->append(data, bytes);
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& t = *static_cast<Transfer*>(user);
    return t.cancel != nullptr && t.cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

// The result code of a finished transfer.
int32_t MapResult(CURL* curl, CURLcode rc, const Transfer& t) {
    if (t.tooLarge) return HTTP_ERROR_TOO_LARGE;
    switch (rc) {
        case CURLE_OK: return HTTP_ERROR_NONE;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_URL_MALFORMAT: return HTTP_ERROR_RESOLVE;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT: return HTTP_ERROR_SOCKET;
        case CURLE_COULDNT_CONNECT:
        case CURLE_INTERFACE_FAILED: return HTTP_ERROR_CONNECT;
        case CURLE_SEND_ERROR: return HTTP_ERROR_SEND;
        case CURLE_FILESIZE_EXCEEDED: return HTTP_ERROR_TOO_LARGE;
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connected = 0;
            curl_off_t resolved = 0;
            curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
            curl_easy_getinfo(curl, CURLINFO_NAMELOOKUP_TIME_T, &resolved);
            if (connected > 0) return HTTP_ERROR_BAD_RESPONSE;
            return resolved > 0 ? HTTP_ERROR_CONNECT : HTTP_ERROR_RESOLVE;
        }
        // Nothing, a cut-off body, a stalled or reset connection, a status line that is not
        // HTTP: the response cannot be trusted as a whole.
        default: return HTTP_ERROR_BAD_RESPONSE;
    }
}

int32_t ContentTypeOf(const char* type) {
    if (type == nullptr || std::strstr(type, "text/html") != nullptr) return HTTP_CONTENT_TEXT_HTML;
    if (std::strstr(type, "text/plain") != nullptr) return HTTP_CONTENT_TEXT_PLAIN;
    return HTTP_CONTENT_OTHER;
}

// Frees what one request set up, whichever way it ends.
struct CurlRequest {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlRequest() {
        curl_slist_free_all(headers);
        if (curl != nullptr) curl_easy_cleanup(curl);
    }
    bool AddHeader(const std::string& line) {
        curl_slist* next = curl_slist_append(headers, line.c_str());
        if (next == nullptr) return false;
        headers = next;
        return true;
    }
};

}  // namespace

HttpError SplitHttpUrl(std::string_view url, HttpTarget& out) {
    out = HttpTarget{};
    if (url.size() > kHttpMaxUrl || HasControlChar(url)) return HTTP_ERROR_SEND;
    const size_t slash = url.find('/');
    std::string_view host = url.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
    if (host.size() > kHttpMaxHost || path.size() > kHttpMaxPath) return HTTP_ERROR_SEND;
    const size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        const std::string portText(host.substr(colon + 1, 128));
        const long port = std::strtol(portText.c_str(), nullptr, 10);
        host = host.substr(0, colon);
        if (port < 1 || port > 65535) return HTTP_ERROR_CONNECT;
        out.port = static_cast<uint16_t>(port);
    }
    if (host.empty() || host.find(' ') != std::string_view::npos) return HTTP_ERROR_RESOLVE;
    out.host.assign(host);
    out.path.assign(path);
    return HTTP_ERROR_NONE;
}

void HttpClient::GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpClient::HttpClient(const char* bindAddress, HttpTimeouts timeouts) : timeouts_(timeouts) {
    if (bindAddress != nullptr) bindAddress_ = bindAddress;
}

int32_t HttpClient::ProcessRequest(int32_t type, std::string_view url, std::string_view postData,
                                   std::string_view referer, const std::atomic<bool>* cancel) {
    GlobalInit();
    status_ = 0;
    contentType_ = HTTP_CONTENT_TEXT_HTML;
    body_.clear();

    HttpTarget target;
    error_ = SplitHttpUrl(url, target);
    if (error_ != HTTP_ERROR_NONE) return error_;
    if ((type != HTTP_GET && type != HTTP_POST && type != HTTP_HEAD) ||
        (type == HTTP_POST && postData.size() > kHttpMaxPostData)) {
        return error_ = HTTP_ERROR_SEND;
    }
    referer = referer.substr(0, kHttpMaxReferer);
    if (HasControlChar(referer)) referer = {};

    CurlRequest req;
    CURL* curl = req.curl;
    if (curl == nullptr) return error_ = HTTP_ERROR_SOCKET;
    Transfer transfer;
    transfer.body = &body_;
    transfer.cancel = cancel;

    // The request line carries the path exactly as given; the URL only says where to connect.
    const std::string where = "http://" + target.host + ":" + std::to_string(target.port) + "/";
    const std::string refererUrl = "http://" + std::string(referer);
    if (!req.AddHeader("Host: " + target.host) || !req.AddHeader("Accept: */*")) {
        return error_ = HTTP_ERROR_SOCKET;
    }
    curl_easy_setopt(curl, CURLOPT_URL, where.c_str());
    curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, target.path.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, req.headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(curl, CURLOPT_REFERER, refererUrl.c_str());
    // The server speaks to the address it was given: no proxies from the environment.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connectMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.totalMs));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts_.stallSeconds));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kHttpMaxResponse));
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    if (!bindAddress_.empty()) {
        const std::string local = "host!" + bindAddress_;
        curl_easy_setopt(curl, CURLOPT_INTERFACE, local.c_str());
    }
    if (type == HTTP_POST) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postData.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, std::string(postData).c_str());
    } else if (type == HTTP_HEAD) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    }

    const CURLcode rc = curl_easy_perform(curl);
    error_ = MapResult(curl, rc, transfer);
    if (error_ != HTTP_ERROR_NONE) {
        body_.clear();
        body_.shrink_to_fit();
        return error_;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    status_ = static_cast<int32_t>(status);
    const char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    contentType_ = ContentTypeOf(contentType);
    return error_;
}

}  // namespace velt
