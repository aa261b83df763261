#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/service/rpc/rpc_test_fixture.h"

namespace quietway::testing {
namespace {

const std::string kAbout = R"({"jsonrpc":"2.0","method":"get_about_info","id":1})";
const std::string kAboutReply = api_reply(kAboutBody);

bool dispatched(const std::string& bytes) {
    return bytes.rfind("HTTP/1.1 200 OK\r\n\r\n ", 0) == 0;
}

// A declined POST to "/" reaches the library's static-file handling, which refuses it.
bool declined(const std::string& bytes) {
    return bytes.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0) == 0;
}

using RpcEndpoint = EndpointTest;

TEST_F(RpcEndpoint, ValidCallGetsExactBytesThenClose) { EXPECT_EQ(call(kAbout), kAboutReply); }

TEST_F(RpcEndpoint, GetServesTheDocumentRootAndNeverTheApi) {
    const RawReply page = send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(page.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << page.bytes;
    EXPECT_NE(page.bytes.find("<html>control panel</html>"), std::string::npos);
    // A GET carrying a JSON-RPC body is still a page request.
    const RawReply get_with_body =
        send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + seed_.authorization +
             "\r\nContent-Length: " + std::to_string(kAbout.size()) + "\r\n\r\n" + kAbout);
    EXPECT_EQ(get_with_body.bytes.find("version_info"), std::string::npos);
    EXPECT_EQ(engine_.get_state_calls, 0);
}

TEST_F(RpcEndpoint, CredentialGoesOnlyToThisServersOwnPages) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    const std::string own_origin = "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\n";
    const std::string body = R"({"authorization":")" + seed_.authorization + "\"}\n";
    struct Case {
        std::string headers;
        bool answered;
    };
    for (const Case& c : std::vector<Case>{
             {host, true},  // a program on this machine, which could read the store anyway
             {host + "Sec-Fetch-Site: same-origin\r\n", true},
             {host + own_origin + "Sec-Fetch-Site: same-origin\r\n", true},
             {"Host: localhost:" + std::to_string(port_) +
                  "\r\nOrigin: http://localhost:" + std::to_string(port_) + "\r\n",
              true},
             {std::string(), false},                            // no Host
             {"Host: evil.example\r\n", false},                 // DNS rebinding
             {host + "Origin: http://127.0.0.1:1\r\n", false},  // another loopback port
             {host + "Origin: null\r\n", false},
             {host + "Origin: http://evil.example\r\n", false},
             {host + "Sec-Fetch-Site: same-site\r\n", false},  // <script src> from a port
             {host + "Sec-Fetch-Site: cross-site\r\n", false},
             {host + "Sec-Fetch-Site: none\r\n", false},
         }) {
        const RawReply reply = send("GET /api/credential HTTP/1.1\r\n" + c.headers + "\r\n");
        const size_t split = reply.bytes.find("\r\n\r\n");
        if (c.answered) {
            EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.headers;
            EXPECT_NE(reply.bytes.find("X-Content-Type-Options: nosniff\r\n"), std::string::npos);
            EXPECT_EQ(split == std::string::npos ? "" : reply.bytes.substr(split + 4), body);
        } else {
            EXPECT_EQ(reply.bytes.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << c.headers;
            EXPECT_EQ(reply.bytes.find(seed_.authorization.substr(6)), std::string::npos);
        }
    }
    // Only GET of that one path: a POST there is an API call like any other.
    EXPECT_EQ(send(post_request("/api/credential", good_headers(), kAbout)).bytes, kAboutReply);
}

TEST_F(RpcEndpoint, PostToAnyPathIsAnApiCall) {
    for (const char* path : {"/", "/rpc", "/no/such/file.html", "/index.html?x=1"}) {
        EXPECT_EQ(send(post_request(path, good_headers(), kAbout)).bytes, kAboutReply) << path;
    }
}

TEST_F(RpcEndpoint, WrongCredentialsAreLeftToTheLibrary) {
    const std::string host = "Host: 127.0.0.1\r\n";
    const std::string token = seed_.authorization.substr(6);
    for (const std::string& header : std::vector<std::string>{
             std::string(),                              // no Authorization at all
             "Authorization: basic " + token + "\r\n",   // scheme word in lower case
             "Authorization: Basic  " + token + "\r\n",  // an extra blank
             "Authorization: Basic " + token + " \r\n",  // a trailing blank
             "Authorization: Basic " + token + "x\r\n",  // a longer token
             "Authorization: Basic " + token.substr(1) + "\r\n",
             "Authorization: Basic Og==\r\n",  // empty user and password
             "Authorization: Digest " + token + "\r\n",
         }) {
        const RawReply reply = send(post_request(
            "/", host + header, R"({"jsonrpc":"2.0","method":"start_privacy","id":1})"));
        EXPECT_TRUE(reply.connected);
        EXPECT_TRUE(declined(reply.bytes)) << header << reply.bytes;
        EXPECT_EQ(reply.bytes.find("privacy_status"), std::string::npos) << header;
    }
    EXPECT_EQ(engine_.get_state_calls, 0);
    EXPECT_TRUE(engine_.calls().empty());
}

TEST_F(RpcEndpoint, OnlyLoopbackHostAndOriginAreDispatched) {
    const std::string auth = "Authorization: " + seed_.authorization + "\r\n";
    const std::string port = std::to_string(port_);
    for (const std::string& headers : std::vector<std::string>{
             "Host: 127.0.0.1:" + port + "\r\n",
             "Host: localhost\r\n",
             "Host: localhost:" + port + "\r\n",
             "Host: 127.0.0.1\r\n",
             "Host: [::1]:" + port + "\r\n",
             "Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:" + port + "\r\n",
             "Host: localhost:" + port + "\r\nOrigin: http://localhost:" + port + "\r\n",
         }) {
        EXPECT_EQ(send(post_request("/", headers + auth, kAbout)).bytes, kAboutReply) << headers;
    }
    for (const std::string& headers : std::vector<std::string>{
             std::string(),  // no Host header
             "Host: rebind.example:" + port + "\r\n",
             "Host: 127.0.0.1.rebind.example\r\n",
             "Host: 10.0.0.1:" + port + "\r\n",
             "Host: localhost.\r\n",
             "Host: 127.0.0.1:" + port + "\r\nOrigin: http://rebind.example:" + port + "\r\n",
             "Host: 127.0.0.1:" + port + "\r\nOrigin: null\r\n",
             "Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:" + port + "/x\r\n",
         }) {
        const RawReply reply = send(post_request(
            "/", headers + auth, R"({"jsonrpc":"2.0","method":"start_privacy","id":1})"));
        EXPECT_TRUE(declined(reply.bytes)) << headers << reply.bytes;
    }
    EXPECT_TRUE(engine_.calls().empty());
}

TEST_F(RpcEndpoint, BodyFramingEdges) {
    // Without Content-Length the body is empty: the parse error.
    const RawReply no_length = send("POST / HTTP/1.1\r\n" + good_headers() + "\r\n");
    EXPECT_EQ(
        no_length.bytes,
        api_reply(
            R"({"error":{"code":-32700,"message":"Parse error."},"id":null,"jsonrpc":"2.0"})"));
    // An empty batch has no reply: the connection closes without a byte.
    const RawReply empty_batch = send(post_request("/", good_headers(), "[]"));
    EXPECT_TRUE(empty_batch.closed_by_server);
    EXPECT_EQ(empty_batch.bytes, "");
    // A batch is answered as one array.
    EXPECT_EQ(
        call("[" + kAbout + "," + R"({"jsonrpc":"2.0","method":"x","id":2}])"),
        api_reply(
            "[" + kAboutBody + "," +
            R"({"error":{"code":-32601,"message":"Method not found."},"id":2,"jsonrpc":"2.0"}])"));
    // The body ends at an embedded NUL.
    EXPECT_EQ(call(kAbout + std::string("\0 trailing", 10)), kAboutReply);
}

TEST_F(RpcEndpoint, OtherMethodsAndOversizedBodiesAreDeclined) {
    for (const char* method : {"PUT", "DELETE", "post", "PATCH"}) {
        const std::string request = std::string(method) + " / HTTP/1.1\r\n" + good_headers() +
                                    "Content-Length: " + std::to_string(kAbout.size()) +
                                    "\r\n\r\n" + kAbout;
        EXPECT_FALSE(dispatched(send(request).bytes)) << method;
    }
    const std::string padding(1024 * 1024, ' ');
    EXPECT_FALSE(dispatched(send(post_request("/", good_headers(), kAbout + padding)).bytes));
    EXPECT_EQ(engine_.get_state_calls, 0);
    // The largest accepted body still works.
    EXPECT_EQ(call(kAbout + padding.substr(kAbout.size())), kAboutReply);
}

TEST_F(RpcEndpoint, ErrorRepliesRepeatNothingOfTheRequest) {
    // The library's own error replies repeat the request's version text, which a malformed
    // request can make run on into what an earlier client left in the worker's buffer.
    struct Case {
        std::string request, status_line;
    };
    for (const Case& c : std::vector<Case>{
             {"GET / HTTP/0.1echo-me\r\nHost: 127.0.0.1\r\n\r\n",
              "HTTP/1.1 505 HTTP Version not supported\r\n"},
             {"GET / HTTP/1.0 echo-me\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
             {"\n\n\nt: 127.GET /echo-me HTTP/1.0\r\nHost: 12\n0.7..01\n\r\n",
              "HTTP/1.1 400 Bad Request\r\n"},
             {"GET /echo-me.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
              "HTTP/1.1 404 Not Found\r\n"},
         }) {
        const RawReply reply = send(c.request);
        EXPECT_EQ(reply.bytes.rfind(c.status_line, 0), 0u) << c.request << reply.bytes;
        EXPECT_EQ(reply.bytes.find("echo-me"), std::string::npos) << reply.bytes;
    }
}

TEST_F(RpcEndpoint, TwoCallsRunAtOnceOnTheTwoWorkers) {
    // The first call waits inside the engine until the second one has been answered.
    std::atomic<bool> second_done{false};
    std::atomic<bool> first_waited_ok{false};
    engine_.on_get_state = [&] {
        if (engine_.get_state_calls == 1) {
            first_waited_ok = wait_until([&] { return second_done.load(); });
        }
    };
    std::string first_reply;
    std::thread first([&] {
        first_reply = call(R"({"jsonrpc":"2.0","method":"get_active_server_state","id":1})");
    });
    ASSERT_TRUE(wait_until([&] { return engine_.get_state_calls >= 1; }));
    EXPECT_EQ(call(kAbout), kAboutReply);
    second_done = true;
    first.join();
    EXPECT_TRUE(first_waited_ok);
    EXPECT_EQ(
        first_reply,
        api_reply(
            R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,"server_ip":""})"));
}

TEST_F(RpcEndpoint, StopWaitsForCallsInProgressThenRemovesMethods) {
    std::atomic<bool> released{false};
    engine_.on_get_state = [&] { wait_until([&] { return released.load(); }); };
    RawReply reply;
    std::thread caller([&] {
        reply = send(post_request("/", good_headers(),
                                  R"({"jsonrpc":"2.0","method":"start_privacy","id":1})"));
    });
    ASSERT_TRUE(wait_until([&] { return engine_.get_state_calls >= 1; }));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        released = true;
    });
    server_->Stop();
    // Stop returned only after the call in progress had run to its end, its binding intact.
    EXPECT_TRUE(released);
    EXPECT_EQ(engine_.calls(), std::vector<std::string>{"start"});
    releaser.join();
    caller.join();
    // The library writes nothing once it is stopping; a reply, if any, is whole.
    EXPECT_TRUE(reply.bytes.empty() ||
                reply.bytes == api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,)"
                                         R"("same_user":0})"))
        << reply.bytes;

    EXPECT_FALSE(server_->IsRunning());
    EXPECT_FALSE(raw_exchange(port_, post_request("/", good_headers(), kAbout)).connected);
    Json::Value listing;
    server_->handler().HandleMessage(R"({"jsonrpc":"2.0","method":"system.describe","id":1})",
                                     listing);
    EXPECT_EQ(listing["result"].getMemberNames(), std::vector<std::string>{"system.describe"});
}

class RpcEndpointEmptyAccount : public EndpointTest {
protected:
    void SetUp() override {
        seed_.user = "";
        seed_.password = "";
        seed_.authorization = "Basic Og==";
        EndpointTest::SetUp();
    }
};

TEST_F(RpcEndpointEmptyAccount, CallsCarryBase64OfTheColon) {
    EXPECT_EQ(call(kAbout), kAboutReply);
    const RawReply without = send(post_request("/", "Host: 127.0.0.1\r\n", kAbout));
    EXPECT_TRUE(declined(without.bytes));
    const RawReply bare =
        send(post_request("/", "Host: 127.0.0.1\r\nAuthorization: Basic \r\n", kAbout));
    EXPECT_TRUE(declined(bare.bytes));
}

const char* const kHttpSettings[] = {
    "access_control_list", "access_log_file", "document_root", "enable_directory_listing",
    "error_log_file",      "rpc_password",    "rpc_port",      "rpc_user",
};

TEST(RpcEndpointStart, EachMissingSettingFailsWithItsLogLine) {
    for (const char* missing : kHttpSettings) {
        StoreSandbox sandbox;
        FakeEngine engine;
        seed_http_settings(free_loopback_port(), sandbox.dir().str());
        ASSERT_TRUE(delete_reg_value(kHttpPath, missing));
        RpcHttpServer2 server(engine);
        EXPECT_FALSE(server.Start()) << missing;
        EXPECT_FALSE(server.IsRunning());
        EXPECT_NE(sandbox.service_log().find(" get " + std::string(missing) + " failed\r\n"),
                  std::string::npos)
            << sandbox.service_log();
        // Only the first missing value is reported.
        EXPECT_EQ(sandbox.service_log().find("failed\r\n") + 8, sandbox.service_log().size());
        // The methods stay registered after a failed start.
        Json::Value listing;
        server.handler().HandleMessage(R"({"jsonrpc":"2.0","method":"system.describe","id":1})",
                                       listing);
        EXPECT_EQ(listing["result"].size(), 17u) << missing;
    }
}

TEST(RpcEndpointStart, MissingHttpSectionReportsTheFirstSetting) {
    StoreSandbox sandbox;
    FakeEngine engine;
    RpcHttpServer2 server(engine);
    EXPECT_FALSE(server.Start());
    EXPECT_NE(sandbox.service_log().find(" get access_control_list failed\r\n"), std::string::npos);
}

TEST(RpcEndpointStart, PortInUseFailsTheStart) {
    StoreSandbox sandbox;
    FakeEngine first_engine;
    uint16_t port = 0;
    auto first = start_endpoint(first_engine, sandbox.dir().str(), port);
    ASSERT_NE(first, nullptr);
    FakeEngine second_engine;
    RpcHttpServer2 second(second_engine);  // the settings still name the same port
    EXPECT_FALSE(second.Start());
    EXPECT_FALSE(second.IsRunning());
    first->Stop();
}

}  // namespace
}  // namespace quietway::testing
