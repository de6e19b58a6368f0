// The HTTP client against real servers on 127.0.0.1: an ordinary http.server and a scripted
// hostile one (http_fixture_server.py). Results, bodies and the request as it reaches the server.

#include "server/http/HttpClient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/script/http_fixture_servers.h"

namespace velt {
namespace {

TEST(HttpUrl, SplitsHostPortAndPath) {
    struct Case {
        std::string url;
        HttpError error;
        std::string host;
        uint16_t port;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"example.com", HTTP_ERROR_NONE, "example.com", 80, "/"},
        {"example.com:8080/a?b=c", HTTP_ERROR_NONE, "example.com", 8080, "/a?b=c"},
        {"h/x:1/y", HTTP_ERROR_NONE, "h", 80, "/x:1/y"},
        {":80/x", HTTP_ERROR_RESOLVE, "", 80, ""},
        {"a b/", HTTP_ERROR_RESOLVE, "", 80, ""},
        {"h:0/", HTTP_ERROR_CONNECT, "", 80, ""},
        {"h:abc/", HTTP_ERROR_CONNECT, "", 80, ""},
        {"h:70000/", HTTP_ERROR_CONNECT, "", 80, ""},
        {"h/a\r\nX-Injected: 1", HTTP_ERROR_SEND, "", 80, ""},
        {std::string(257, 'h') + "/", HTTP_ERROR_SEND, "", 80, ""},
        {"h/" + std::string(2047, 'p'), HTTP_ERROR_SEND, "", 80, ""},
        {"h/" + std::string(2046, 'p'), HTTP_ERROR_NONE, "h", 80, "/" + std::string(2046, 'p')},
    };
    for (const Case& c : cases) {
        HttpTarget t;
        EXPECT_EQ(SplitHttpUrl(c.url, t), c.error) << c.url;
        if (c.error != HTTP_ERROR_NONE) continue;
        EXPECT_EQ(t.host, c.host) << c.url;
        EXPECT_EQ(t.port, c.port) << c.url;
        EXPECT_EQ(t.path, c.path) << c.url;
    }
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(servers_.Ready()); }
    test::HttpFixtureServers servers_;
};

// The request line and the set of header lines the server received, and what followed them.
struct ReceivedRequest {
    std::string requestLine;
    std::set<std::string> headers;
    std::string body;
};

ReceivedRequest Parse(const std::string& raw) {
    ReceivedRequest r;
    const size_t end = raw.find("\r\n\r\n");
    std::istringstream head(raw.substr(0, end));
    std::getline(head, r.requestLine);
    if (!r.requestLine.empty() && r.requestLine.back() == '\r') r.requestLine.pop_back();
    for (std::string line; std::getline(head, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        r.headers.insert(line);
    }
    if (end != std::string::npos) r.body = raw.substr(end + 4);
    return r;
}

TEST_F(HttpClientTest, SendsHttp10RequestsWithItsHeaders) {
    HttpClient get;
    ASSERT_EQ(get.ProcessRequest(HTTP_GET, servers_.Hostile("/echo-request?a=1"), "", "ref.example"),
              HTTP_ERROR_NONE);
    const ReceivedRequest g = Parse(get.Body());
    EXPECT_EQ(g.requestLine, "GET /echo-request?a=1 HTTP/1.0");
    EXPECT_EQ(g.headers, (std::set<std::string>{"Accept: */*", "User-Agent: VELT/0.3",
                                                "Referer: http://ref.example", "Host: 127.0.0.1"}));
    EXPECT_EQ(g.body, "");

    HttpClient post;
    ASSERT_EQ(post.ProcessRequest(HTTP_POST, servers_.Hostile("/echo-request"), "a=1&b=two", "ref.example"),
              HTTP_ERROR_NONE);
    const ReceivedRequest p = Parse(post.Body());
    EXPECT_EQ(p.requestLine, "POST /echo-request HTTP/1.0");
    EXPECT_EQ(p.headers,
              (std::set<std::string>{"Accept: */*", "User-Agent: VELT/0.3", "Referer: http://ref.example",
                                     "Host: 127.0.0.1", "Content-Type: application/x-www-form-urlencoded",
                                     "Content-Length: 9"}));
    EXPECT_EQ(p.body, "a=1&b=two");
}

// A port nothing listens on.
int ClosedPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

TEST_F(HttpClientTest, EveryServerBehaviourEndsWithItsResultWithinTheTimeout) {
    struct Case {
        int32_t type;
        std::string url;
        std::string data;
        int32_t error;
        int32_t status;
        std::string body;
        int32_t contentType;
    };
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    const std::vector<Case> cases = {
        {HTTP_GET, servers_.Web("/hello"), "", 0, 200, "hello world", HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_GET, servers_.Web("/html"), "", 0, 200, "<p>hi</p>", HTTP_CONTENT_TEXT_HTML},
        {HTTP_GET, servers_.Web("/octet"), "", 0, 200, "abc", HTTP_CONTENT_OTHER},
        {HTTP_GET, servers_.Web("/missing"), "", 0, 404, "not here", HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_HEAD, servers_.Web("/hello"), "", 0, 200, "", HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_POST, servers_.Web("/echo"), "k=v&x=%20", 0, 200, "k=v&x=%20", HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_POST, servers_.Web("/echo"), std::string(kHttpMaxPostData, 'd'), 0, 200,
         std::string(kHttpMaxPostData, 'd'), HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_GET, servers_.Web("/sized/1048000"), "", 0, 200, std::string(1048000, 'x'),
         HTTP_CONTENT_TEXT_PLAIN},
        {HTTP_GET, servers_.Hostile("/length-then-open"), "", 0, 200, "0123456789", HTTP_CONTENT_TEXT_HTML},
        {HTTP_GET, servers_.Hostile("/no-length"), "", 0, 200, "abc", HTTP_CONTENT_TEXT_HTML},
        {HTTP_GET, servers_.Hostile("/silent"), "", HTTP_ERROR_BAD_RESPONSE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/drip"), "", HTTP_ERROR_BAD_RESPONSE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/reset"), "", HTTP_ERROR_BAD_RESPONSE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/empty"), "", HTTP_ERROR_BAD_RESPONSE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/bad-status"), "", HTTP_ERROR_BAD_RESPONSE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/endless-headers"), "", HTTP_ERROR_TOO_LARGE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/huge-length"), "", HTTP_ERROR_TOO_LARGE, 0, "", 0},
        {HTTP_GET, servers_.Hostile("/over-cap"), "", HTTP_ERROR_TOO_LARGE, 0, "", 0},
        {HTTP_GET, closed, "", HTTP_ERROR_CONNECT, 0, "", 0},
        // A label longer than 63 characters fails in the resolver itself: no query leaves the machine.
        {HTTP_GET, std::string(64, 'a') + ".invalid/", "", HTTP_ERROR_RESOLVE, 0, "", 0},
        // Requests that cannot be sent as asked are not sent at all.
        {HTTP_POST, servers_.Web("/echo"), std::string(kHttpMaxPostData + 1, 'd'), HTTP_ERROR_SEND, 0, "", 0},
        {7, servers_.Web("/hello"), "", HTTP_ERROR_SEND, 0, "", 0},
    };
    const HttpTimeouts timeouts{2000, 1, 4000};
    struct Outcome {
        int32_t error = -1, status = -1, contentType = -1;
        std::string body;
        double seconds = 0;
    };
    std::vector<Outcome> outcomes(cases.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < cases.size(); ++i) {
        threads.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            HttpClient client(nullptr, timeouts);
            Outcome& o = outcomes[i];
            o.error = client.ProcessRequest(cases[i].type, cases[i].url, cases[i].data, "localhost");
            o.status = client.Status();
            o.body = client.Body();
            o.contentType = client.ContentType();
            o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Outcome& o = outcomes[i];
        SCOPED_TRACE(c.url.substr(0, 80));
        EXPECT_EQ(o.error, c.error);
        EXPECT_TRUE(o.body == c.body) << "body of " << o.body.size() << " bytes";
        if (c.error == HTTP_ERROR_NONE) {
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(o.contentType, c.contentType);
        }
        // Generous: a bounded timeout, not the exchange's speed, is what this checks.
        EXPECT_LT(o.seconds, timeouts.totalMs / 1000.0 + 5.0);
    }
}

}  // namespace
}  // namespace velt
