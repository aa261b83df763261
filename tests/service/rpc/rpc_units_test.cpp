#include <gtest/gtest.h>

#include <json/reader.h>

#include <sstream>
#include <string>

#include "common/net/base64.h"
#include "service/rpc/peer_owner.h"
#include "service/rpc/request_origin.h"
#include "service/rpc/rpc_params.h"

namespace quietway {
namespace {

std::string encoded(const std::string& data) {
    std::string out = "not touched";
    EXPECT_TRUE(base64_encode(data, out));
    return out;
}

TEST(Base64, StandardAlphabetWithPaddingAndNoLineBreaks) {
    // The test vectors of RFC 4648, section 10.
    EXPECT_EQ(encoded(""), "");
    EXPECT_EQ(encoded("f"), "Zg==");
    EXPECT_EQ(encoded("fo"), "Zm8=");
    EXPECT_EQ(encoded("foo"), "Zm9v");
    EXPECT_EQ(encoded("foob"), "Zm9vYg==");
    EXPECT_EQ(encoded("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encoded("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encoded(":"), "Og==");
    EXPECT_EQ(encoded("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    // Bytes that use "+" and "/", and NUL bytes inside the text.
    EXPECT_EQ(encoded(std::string("\xfb\xff\xbf\x00\x01", 5)), "+/+/AAE=");
    // Well past the 64 and 76 column line lengths of MIME-style encoders.
    const std::string long_text(300, 'a');
    const std::string long_code = encoded(long_text);
    EXPECT_EQ(long_code.size(), 400u);
    EXPECT_EQ(long_code.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(long_code.substr(0, 8), "YWFhYWFh");
}

TEST(RequestOrigin, LoopbackHosts) {
    for (const char* host :
         {"localhost", "LocalHost", "localhost:8988", "127.0.0.1", "127.0.0.1:8988", "127.1.2.3:1",
          "[::1]", "[::1]:8988", "127.0.0.1:65535"}) {
        EXPECT_TRUE(is_loopback_host(host)) << host;
    }
    for (const char* host : {"",
                             "localhost:",
                             "localhost:x",
                             "localhost:65536",
                             "localhost:123456",
                             "localhost.",
                             "localhost.rebind.example",
                             "127.0.0.1.rebind.example",
                             "128.0.0.1",
                             "10.0.0.1",
                             "127.0.0",
                             "127.0.0.1.",
                             "127.0.0.01",
                             "127.0.0.256",
                             "0x7f.0.0.1",
                             "[::2]",
                             "[::1",
                             "[::1]x",
                             "[::1]:",
                             "::1",
                             "127.0.0.1:8988:1",
                             " 127.0.0.1",
                             "127.0.0.1 ",
                             "rebind.example:8988"}) {
        EXPECT_FALSE(is_loopback_host(host)) << host;
    }
}

TEST(RequestOrigin, OriginsAndTheCombinedCheck) {
    EXPECT_TRUE(is_loopback_origin("http://127.0.0.1:8988"));
    EXPECT_TRUE(is_loopback_origin("HTTP://localhost"));
    EXPECT_TRUE(is_loopback_origin("https://[::1]:8988"));
    for (const char* origin :
         {"null", "", "http://", "http://rebind.example", "http://127.0.0.1:8988/", "file://",
          "ftp://127.0.0.1", "127.0.0.1:8988", "http://localhost.rebind.example:8988"}) {
        EXPECT_FALSE(is_loopback_origin(origin)) << origin;
    }
    EXPECT_TRUE(is_local_request("127.0.0.1:8988", nullptr));
    EXPECT_TRUE(is_local_request("localhost", "http://127.0.0.1:8988"));
    EXPECT_FALSE(is_local_request(nullptr, nullptr));
    EXPECT_FALSE(is_local_request("rebind.example", nullptr));
    EXPECT_FALSE(is_local_request("127.0.0.1", "http://rebind.example"));
}

Json::Value parse(const char* text) {
    Json::Value value;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr)) << text;
    return value;
}

// The server's side of the connection names the local address; the client's socket is the
// one with exactly that four-tuple, whatever else shares its ports.
TEST(PeerOwner, TheClientsSocketIsMatchedByItsExactFourTuple) {
    TcpEndpoint client, mapped, server, other;
    ASSERT_TRUE(parse_endpoint("127.0.0.1", 40000, client));
    ASSERT_TRUE(parse_endpoint("::ffff:127.0.0.1", 40000, mapped));
    EXPECT_EQ(client, mapped);
    ASSERT_TRUE(parse_endpoint("127.0.0.2", 8988, server));
    ASSERT_TRUE(parse_endpoint("::1", 8988, other));
    EXPECT_FALSE(parse_endpoint("localhost", 40000, other));
    const TcpConnection ours{server, client, 0}, theirs{client, server, 1000};
    const TcpConnection elsewhere{client, other, 0}, another_side{other, client, 0};
    struct Case {
        std::vector<TcpConnection> rows;
        bool found;
    };
    for (const Case& c :
         {Case{{elsewhere, ours, theirs}, true}, Case{{theirs}, false},
          Case{{ours, elsewhere}, false}, Case{{ours, another_side, theirs}, false}}) {
        uint32_t owner = 0;
        EXPECT_EQ(find_client_owner(c.rows, client, 8988, owner), c.found) << c.rows.size();
        EXPECT_EQ(owner, c.found ? 1000u : 0u);
    }
}

TEST(RpcParams, ParamsMemberMustBeAnObject) {
    EXPECT_TRUE(request_params(parse(R"({"params":[1]})")).isObject());
    EXPECT_TRUE(request_params(parse(R"({"params":null})")).empty());
    EXPECT_TRUE(request_params(parse(R"({})")).empty());
    EXPECT_TRUE(request_params(parse("[1]")).isObject());
    EXPECT_EQ(request_params(parse(R"({"params":{"a":1}})"))["a"].asInt(), 1);
}

TEST(RpcParams, TextConversion) {
    const Json::Value params =
        parse(R"({"s":"text","i":-4,"u":18446744073709551615,"r":2.5,"t":true,"f":false,"n":null,)"
              R"("a":[],"o":{}})");
    const std::pair<const char*, const char*> converted[] = {
        {"s", "text"}, {"i", "-4"},     {"u", "18446744073709551615"},
        {"r", "2.5"},  {"t", "true"},   {"f", "false"},
        {"n", ""},     {"missing", ""},
    };
    for (const auto& [name, expected] : converted) {
        std::string out = "stale";
        EXPECT_TRUE(text_param(params, name, out)) << name;
        EXPECT_EQ(out, expected) << name;
    }
    for (const char* name : {"a", "o"}) {
        std::string out = "stale";
        EXPECT_FALSE(text_param(params, name, out)) << name;
        EXPECT_EQ(out, "stale");
    }
}

TEST(RpcParams, IntegerConversion) {
    const Json::Value params =
        parse(R"({"i":-7,"max":2147483647,"min":-2147483648,"r":-2.9,"t":true,"f":false,"n":null,)"
              R"("big":2147483648,"small":-2147483649,"rbig":3e10,"s":"1","a":[1],"o":{}})");
    const std::pair<const char*, int32_t> converted[] = {
        {"i", -7}, {"max", 2147483647}, {"min", -2147483647 - 1}, {"r", -2}, {"t", 1}, {"f", 0},
        {"n", 0},  {"missing", 0},
    };
    for (const auto& [name, expected] : converted) {
        int32_t out = 99;
        EXPECT_TRUE(int_param(params, name, out)) << name;
        EXPECT_EQ(out, expected) << name;
    }
    for (const char* name : {"big", "small", "rbig", "s", "a", "o"}) {
        int32_t out = 99;
        EXPECT_FALSE(int_param(params, name, out)) << name;
        EXPECT_EQ(out, 99);
    }
}

}  // namespace
}  // namespace quietway
