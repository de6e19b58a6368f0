#pragma once

// One blocking HTTP/1.0 request: GET, POST (form data) or HEAD to a URL given without a scheme
// (host, an optional ":port", then the path), with the status code, the body and a rough content
// type as its outcome. Runs on a worker thread (one client per request, shared with nothing);
// name resolution and the transfer happen in the calling thread, inside bounded timeouts.
//
// What a script is told is one small result code (HttpError). A request whose parts do not fit
// the limits below is not sent at all and reports HTTP_ERROR_SEND: a cut URL would fetch another
// resource and cut form data would post something else.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velt {

enum HttpRequestType : int32_t {
    HTTP_GET = 1,
    HTTP_POST = 2,
    HTTP_HEAD = 3,
};

enum HttpError : int32_t {
    HTTP_ERROR_NONE = 0,
    HTTP_ERROR_RESOLVE = 1,       // the host name (or the bind address) did not resolve
    HTTP_ERROR_SOCKET = 2,        // no socket could be made
    HTTP_ERROR_CONNECT = 3,       // bind or connect failed, or the connect timed out
    HTTP_ERROR_SEND = 4,          // the request could not be sent (or was too large to send)
    HTTP_ERROR_TOO_LARGE = 5,     // more than kHttpMaxResponse bytes (kHttpMaxHeader of header),
                                  // or a Content-Length above
    HTTP_ERROR_BAD_RESPONSE = 6,  // no, cut-off, stalled or malformed response
};

// What the client reports as the response's content type.
enum HttpContentType : int32_t {
    HTTP_CONTENT_OTHER = 0,
    HTTP_CONTENT_TEXT_PLAIN = 1,
    HTTP_CONTENT_TEXT_HTML = 2,  // also when the response names none
};

inline constexpr size_t kHttpMaxResponse = 1048576;   // header and body bytes received
inline constexpr size_t kHttpMaxHeader = 256 * 1024;  // of which header bytes
inline constexpr size_t kHttpMaxUrl = 2048;
inline constexpr size_t kHttpMaxHost = 256;
inline constexpr size_t kHttpMaxPath = 4096;
inline constexpr size_t kHttpMaxPostData = 8192;
inline constexpr size_t kHttpMaxReferer = 256;
inline constexpr const char* kHttpUserAgent = "VELT/0.3";

// A dead or dripping server ends the request with an error within these bounds instead of holding
// its thread.
struct HttpTimeouts {
    int32_t connectMs = 10000;  // name resolution and connect
    int32_t stallSeconds = 20;  // no byte at all for this long
    int32_t totalMs = 60000;    // the whole exchange
};

// Where a URL points: host, port and path.
struct HttpTarget {
    std::string host;
    uint16_t port = 80;
    std::string path;
};

// Splits "host[:port][/path]": the host is the text before the first '/', the path the rest from
// that '/' on ("/" when there is none), the port the number after a ':' in the host (80 without
// one). Returns HTTP_ERROR_NONE, or the code the request then reports: HTTP_ERROR_SEND for a URL,
// host or path over its limit or with control characters, HTTP_ERROR_RESOLVE for an empty host
// or one holding blanks, HTTP_ERROR_CONNECT for a port outside 1..65535.
HttpError SplitHttpUrl(std::string_view url, HttpTarget& out);

class HttpClient {
public:
    // `bindAddress` (null: none) is the local address the connection leaves from.
    explicit HttpClient(const char* bindAddress = nullptr, HttpTimeouts timeouts = {});

    // Performs the request and returns its result code, also kept in Error(). `referer` is the
    // host named in the Referer header (cut to kHttpMaxReferer). `cancel`, when given, ends the
    // transfer early (with HTTP_ERROR_BAD_RESPONSE) once it is set.
    int32_t ProcessRequest(int32_t type, std::string_view url, std::string_view postData,
                           std::string_view referer, const std::atomic<bool>* cancel = nullptr);

    int32_t Error() const { return error_; }
    // The status line's code; meaningful when Error() is HTTP_ERROR_NONE.
    int32_t Status() const { return status_; }
    // The body without the header, empty after an error or for HEAD.
    const std::string& Body() const { return body_; }
    int32_t ContentType() const { return contentType_; }

    // Makes libcurl ready for use from several threads; call once from the main thread before
    // the first worker starts (ProcessRequest also does, for callers that use one thread).
    static void GlobalInit();

private:
    std::string bindAddress_;
    HttpTimeouts timeouts_;
    int32_t error_ = HTTP_ERROR_NONE;
    int32_t status_ = 0;
    int32_t contentType_ = HTTP_CONTENT_TEXT_HTML;
    std::string body_;
};

}  // namespace velt
