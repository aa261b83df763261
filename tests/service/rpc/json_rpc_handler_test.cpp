#include <gtest/gtest.h>

#include <json/writer.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/rpc/json_rpc_handler.h"

namespace Json::Rpc {
namespace {

const std::string kParseErrorReply =
    R"({"error":{"code":-32700,"message":"Parse error."},"id":null,"jsonrpc":"2.0"})"
    "\n";
const std::string kInvalidObject =
    R"({"error":{"code":-32600,"message":"Invalid JSON-RPC request."},"id":null,"jsonrpc":"2.0"})";
const std::string kInvalidReply = kInvalidObject + "\n";

std::string NotFound(const std::string& id) {
    return R"({"error":{"code":-32601,"message":"Method not found."},"id":)" + id +
           R"(,"jsonrpc":"2.0"})";
}

// A target class whose methods show what the dispatcher handed them.
class Target {
public:
    bool Echo(const Json::Value& request, Json::Value& response) {
        ++calls;
        response["echo"] = request["params"];
        response["error"] = 0;
        return true;
    }
    bool Refuse(const Json::Value&, Json::Value& response) {
        response["error"] = 1;
        return false;
    }
    bool Silent(const Json::Value&, Json::Value&) { return true; }
    bool Throw(const Json::Value& request, Json::Value& response) {
        response["half"] = request["params"]["list"].asString();  // throws on an array
        return true;
    }
    std::atomic<int> calls{0};
};

class HandlerTest : public ::testing::Test {
protected:
    HandlerTest() {
        Add("echo", &Target::Echo, "echoes its params");
        Add("refuse", &Target::Refuse, "always fails");
        Add("silent", &Target::Silent, "never answers");
        Add("throw", &Target::Throw, "throws");
    }

    void Add(const char* name, RpcMethod<Target>::Method method, const char* description) {
        handler_.RegisterMethod(
            std::make_unique<RpcMethod<Target>>(target_, method, name, Json::Value(description)));
    }

    // The reply as the HTTP endpoint would send it, or "<none>" when it stays null.
    std::string Reply(const char* text, bool* result = nullptr) {
        Json::Value response;
        const bool ok = handler_.HandleMessage(text, response);
        if (result != nullptr) *result = ok;
        return response.isNull() ? "<none>" : handler_.Serialize(response);
    }

    Target target_;
    Handler handler_;
};

TEST_F(HandlerTest, TextsThatAreNotJsonGetTheParseError) {
    for (const char* text : {"", "   \r\n\t", "/* only a comment */", "// only a comment\n",
                             "{\"jsonrpc\":", "[1,2,]", "{'a':1}", "NaN", "\xEF\xBB\xBF{}"}) {
        bool ok = true;
        EXPECT_EQ(Reply(text, &ok), kParseErrorReply) << text;
        EXPECT_FALSE(ok) << text;
    }
    EXPECT_EQ(Reply(nullptr), kParseErrorReply);
}

TEST_F(HandlerTest, DeeplyNestedTextIsRejectedWithoutCrashing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(Reply(deep.c_str()), kParseErrorReply);
}

TEST_F(HandlerTest, TextEndsAtEmbeddedNul) {
    const char text[] = "{\"jsonrpc\":\"2.0\",\"method\":\"echo\",\"id\":1}\0 trailing garbage";
    EXPECT_EQ(Reply(text), "{\"echo\":null,\"error\":0}\n");
    const char cut[] = "[\0]";
    EXPECT_EQ(Reply(cut), kParseErrorReply);
}

TEST_F(HandlerTest, EmptyBatchLeavesReplyNull) {
    bool ok = false;
    EXPECT_EQ(Reply("[]", &ok), "<none>");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Reply("[{\"jsonrpc\":\"2.0\",\"method\":\"silent\",\"id\":1}]"), "<none>");
}

TEST_F(HandlerTest, BatchOfNumbersGivesInvalidRequestPerElement) {
    bool ok = false;
    EXPECT_EQ(Reply("[1,2]", &ok), "[" + kInvalidObject + "," + kInvalidObject + "]\n");
    EXPECT_TRUE(ok);
}

TEST_F(HandlerTest, MixedBatchRepliesInRequestOrder) {
    const char* text = R"([{"jsonrpc":"2.0","method":"echo","params":{"a":1},"id":1},)"
                       R"({"jsonrpc":"2.0","method":"nope","id":"x"},)"
                       R"({"jsonrpc":"2.0","method":"silent","id":4},)"
                       R"(5,[{"jsonrpc":"2.0","method":"echo"}]])";
    EXPECT_EQ(Reply(text), R"([{"echo":{"a":1},"error":0},)" + NotFound("\"x\"") + "," +
                               kInvalidObject + "," + kInvalidObject + "]\n");
    EXPECT_EQ(target_.calls, 1);
}

TEST_F(HandlerTest, EnvelopeChecks) {
    // Each of these fails the envelope; the reply never carries the request's id.
    for (const char* text : {
             R"({"jsonrpc":2.0,"method":"echo","id":9})",
             R"({"jsonrpc":"2","method":"echo","id":9})",
             R"({"jsonrpc":"2.0 ","method":"echo","id":9})",
             R"({"method":"echo","id":9})",
             R"({"jsonrpc":"2.0","id":9})",
             R"({"jsonrpc":"2.0","method":7,"id":9})",
             R"({"jsonrpc":"2.0","method":null,"id":9})",
             R"({"jsonrpc":"2.0","method":"echo","id":{"n":9}})",
             R"({"jsonrpc":"2.0","method":"echo","id":[9]})",
             "\"just a string\"",
             "42",
             "null",
         }) {
        bool ok = true;
        EXPECT_EQ(Reply(text, &ok), kInvalidReply) << text;
        EXPECT_FALSE(ok) << text;
    }
    EXPECT_EQ(target_.calls, 0);
}

TEST_F(HandlerTest, UnknownOrEmptyMethodEchoesTheId) {
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope"})"), NotFound("null") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"","id":3})"), NotFound("3") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope","id":7})"),
              R"({"error":{"code":-32601,"message":"Method not found."},"id":7,"jsonrpc":"2.0"})"
              "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope","id":true})"), NotFound("true") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope","id":"a\"b"})"),
              NotFound(R"("a\"b")") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope","id":null})"), NotFound("null") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"nope","id":-2.5})"), NotFound("-2.5") + "\n");
    // Names compare exactly: case and a NUL inside the name both matter.
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"ECHO","id":1})"), NotFound("1") + "\n");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"echo\u0000","id":1})"), NotFound("1") + "\n");
}

TEST_F(HandlerTest, CommentsInsideTheRequestAreIgnored) {
    const char* text =
        "/* leading */ {\"jsonrpc\": /* inline */ \"2.0\", // to the line end\n"
        "\"method\":\"echo\", \"params\": [1, /* two */ 2], \"id\": 1} // trailing";
    EXPECT_EQ(Reply(text), "{\"echo\":[1,2],\"error\":0}\n");
}

TEST_F(HandlerTest, MethodResultAndReplyPassThroughUnchanged) {
    bool ok = true;
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"refuse","id":1})", &ok), "{\"error\":1}\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"silent","id":1})", &ok), "<none>");
    EXPECT_TRUE(ok);
    // A notification (no id) is dispatched like any call and its reply returned.
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"echo","params":"p"})", &ok),
              "{\"echo\":\"p\",\"error\":0}\n");
    EXPECT_TRUE(ok);
}

TEST_F(HandlerTest, ThrowingMethodIsAnsweredWithInternalError) {
    bool ok = true;
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"throw","params":{"list":[1]},"id":5})", &ok),
              R"({"error":{"code":-32603,"message":"Internal error."},"id":5,"jsonrpc":"2.0"})"
              "\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"throw","params":{"list":"x"},"id":5})"),
              "{\"half\":\"x\"}\n");
}

const std::string kDescribeSelf =
    R"("system.describe":{"description":"List the RPC methods available","parameters":null,)"
    R"("returns":"Object that contains description of all methods registered"})";

TEST(HandlerDescribe, FreshHandlerListsOnlyItself) {
    Handler handler;
    Json::Value response;
    EXPECT_TRUE(
        handler.HandleMessage(R"({"jsonrpc":"2.0","method":"system.describe","id":1})", response));
    EXPECT_EQ(handler.Serialize(response),
              R"({"id":1,"jsonrpc":"2.0","result":{)" + kDescribeSelf + "}}\n");
}

TEST_F(HandlerTest, DescribeListsEveryMethodSortedByName) {
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"system.describe"})"),
              R"({"id":null,"jsonrpc":"2.0","result":{"echo":"echoes its params",)"
              R"("refuse":"always fails","silent":"never answers",)" +
                  kDescribeSelf + R"(,"throw":"throws"}})" + "\n");
}

TEST_F(HandlerTest, DuplicateNamesFirstAnswersLastDescribes) {
    Add("echo", &Target::Refuse, "second echo");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"echo","id":1})"),
              "{\"echo\":null,\"error\":0}\n");
    EXPECT_NE(Reply(R"({"jsonrpc":"2.0","method":"system.describe","id":1})")
                  .find(R"("echo":"second echo")"),
              std::string::npos);
    // Removing the name drops the first binding; the second one answers from then on.
    handler_.UnregisterMethod("echo");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"echo","id":1})"), "{\"error\":1}\n");
    handler_.UnregisterMethod("echo");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"echo","id":1})"), NotFound("1") + "\n");
}

TEST_F(HandlerTest, DescribeCannotBeRemovedAndUnknownRemovalIsIgnored) {
    const std::string before = Reply(R"({"jsonrpc":"2.0","method":"system.describe","id":1})");
    handler_.UnregisterMethod("system.describe");
    handler_.UnregisterMethod("no.such.method");
    handler_.UnregisterMethod("Echo");
    EXPECT_EQ(Reply(R"({"jsonrpc":"2.0","method":"system.describe","id":1})"), before);
}

// A binding that counts its own destruction, to check who owns it.
class CountedMethod : public CallbackMethod {
public:
    CountedMethod(std::string name, int& destroyed)
        : name_(std::move(name)), destroyed_(destroyed) {}
    ~CountedMethod() override { ++destroyed_; }
    bool Invoke(const Json::Value&, Json::Value& response) override {
        response = name_;
        return true;
    }
    std::string Name() const override { return name_; }
    Json::Value Description() const override { return Json::Value(); }

private:
    std::string name_;
    int& destroyed_;
};

TEST(HandlerOwnership, RemovalAndDestructionDeleteBindings) {
    int destroyed = 0;
    {
        Handler handler;
        handler.RegisterMethod(std::make_unique<CountedMethod>("a", destroyed));
        handler.RegisterMethod(std::make_unique<CountedMethod>("b", destroyed));
        handler.RegisterMethod(std::make_unique<CountedMethod>("c", destroyed));
        handler.UnregisterMethod("b");
        EXPECT_EQ(destroyed, 1);
        handler.UnregisterMethod("b");
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 3);
}

// Values that exercise every branch of the compact writer.
std::vector<Json::Value> SampleValues() {
    std::vector<Json::Value> values;
    values.emplace_back();
    values.emplace_back(Json::arrayValue);
    values.emplace_back(Json::objectValue);
    values.emplace_back(-2147483647 - 1);
    values.emplace_back(Json::UInt64(18446744073709551615ull));
    values.emplace_back(0.1);
    values.emplace_back(1e300);
    values.emplace_back(-3.0);
    values.emplace_back(true);
    values.emplace_back("quote\" backslash\\ control\x01\t\n/ utf8 \xC3\xA9 \xE2\x82\xAC");
    values.emplace_back(std::string("nul\0inside", 10));
    Json::Value nested;
    nested["zeta"] = 1;
    nested["Alpha"] = Json::Value(Json::arrayValue);
    nested["alpha"]["inner"].append(Json::Value());
    nested["alpha"]["inner"].append("x");
    nested["\xC3\xA9"] = false;
    nested[""] = 2.5;
    values.push_back(nested);
    return values;
}

TEST(HandlerSerialize, ByteIdenticalToTheLibrarysFastWriter) {
    Handler handler;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::FastWriter reference;
    for (const Json::Value& value : SampleValues()) {
        EXPECT_EQ(handler.Serialize(value), reference.write(value));
    }
#pragma GCC diagnostic pop
}

TEST(HandlerSerialize, CompactMembersSortedBytewiseWithLineFeed) {
    Handler handler;
    EXPECT_EQ(handler.Serialize(SampleValues().back()),
              R"({"":2.5,"Alpha":[],"alpha":{"inner":[null,"x"]},"zeta":1,"\u00e9":false})"
              "\n");
    EXPECT_EQ(handler.Serialize(Json::Value()), "null\n");
}

TEST_F(HandlerTest, ConcurrentCallsKeepTheirOwnReplies) {
    // Two threads, like the HTTP server's two workers, each with replies of a different size.
    auto worker = [this](const std::string& payload, std::atomic<int>& failures) {
        const std::string text =
            R"({"jsonrpc":"2.0","method":"echo","params":")" + payload + R"(","id":1})";
        const std::string expected = R"({"echo":")" + payload + R"(","error":0})" + "\n";
        for (int i = 0; i < 2000; ++i) {
            Json::Value response;
            handler_.HandleMessage(text.c_str(), response);
            if (handler_.Serialize(response) != expected) ++failures;
        }
    };
    std::atomic<int> failures{0};
    std::thread first(worker, std::string(3000, 'a'), std::ref(failures));
    std::thread second(worker, std::string(7, 'b'), std::ref(failures));
    first.join();
    second.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(target_.calls, 4000);
}

}  // namespace
}  // namespace Json::Rpc
