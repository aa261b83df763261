#include <cstring>
#include <thread>

#include "tests/service/pipe/pipe_test_fixture.h"

namespace quietway::testing {
namespace {

TEST(PipeRecord, WireLayoutIsLittleEndianAtFixedOffsets) {
    PipeRecord record = make_request(0x01020304, true);
    record.result = -2;
    uint8_t bytes[kPipeRecordSize];
    encode_record(record, bytes);
    const uint8_t expected[kPipeRecordSize] = {
        0x8F, 0x07, 0, 0, 1, 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, expected, kPipeRecordSize));
    EXPECT_EQ(decode_record(bytes).command, 0x01020304);
    EXPECT_EQ(decode_record(bytes).result, -2);
}

// The server hands each command on unchanged and replies with the observer's answer at
// offset 16, id 1935 and zeros elsewhere.
TEST_F(PipeServerTest, CommandsReachTheObserverAndTheirResultsComeBack) {
    struct Case {
        int command;
        int answer;
    };
    const Case cases[] = {{1050, 2}, {7, 3}, {3, 5}, {3, 6}, {1, 2}, {2, 1}};
    start();
    auto channel = connect();
    for (const Case& c : cases) {
        observer_.answer(c.command, c.answer);
        ASSERT_TRUE(send(*channel, make_request(c.command, true)));
        const auto reply = receive(*channel);
        ASSERT_TRUE(reply.has_value()) << c.command;
        EXPECT_EQ(reply->id, kPipeId);
        EXPECT_EQ(reply->kind, 0);
        EXPECT_EQ(reply->command, 0);
        EXPECT_EQ(reply->result, c.answer) << c.command;
        EXPECT_EQ(reply->unused1 | reply->unused2 | reply->unused3, 0u);
        EXPECT_EQ(observer_.commands().back(), c.command);
    }
    EXPECT_TRUE(log_.contains_in_order({"PipeServer thread running", "creating named pip",
                                        "waiting client connection ...", "new client connected",
                                        "PipeWorker entered run", "killing duplicates...",
                                        "kill duplicates ok"}));
    EXPECT_EQ(count("killing duplicates..."), 1u);  // only on the first request
}

TEST_F(PipeServerTest, ReplyFlagOtherThanOneIsCarriedOutWithoutReply) {
    start();
    auto channel = connect();
    observer_.answer(3, 42);
    ASSERT_TRUE(send(*channel, make_request(2, false)));
    PipeRecord odd = make_request(1, true);
    odd.kind = 2;
    ASSERT_TRUE(send(*channel, odd));
    ASSERT_TRUE(send(*channel, make_request(3, true)));
    const auto reply = receive(*channel);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->result, 42);  // the first reply on the channel belongs to the query
    EXPECT_EQ(observer_.commands(), (std::vector<int>{2, 1, 3}));
}

TEST_F(PipeServerTest, WrongIdEndsTheWorkerWithoutReply) {
    start();
    auto channel = connect();
    PipeRecord wrong = make_request(1, true);
    wrong.id = 1934;
    ASSERT_TRUE(send(*channel, wrong));
    EXPECT_FALSE(receive(*channel).has_value());  // closed, nothing written
    EXPECT_TRUE(wait_until([&] { return log_.contains("PipeWorker exited run"); }));
    EXPECT_TRUE(log_.contains_in_order({"wrong pipe id 1934", "PipeWorker exited run"}));
    EXPECT_TRUE(observer_.commands().empty());
}

TEST_F(PipeServerTest, PartialRecordIsLoggedAndNotCarriedOut) {
    start();
    auto channel = connect();
    uint8_t bytes[kPipeRecordSize];
    encode_record(make_request(1, true), bytes);
    ASSERT_TRUE(channel->write_all(bytes, 10));
    ASSERT_TRUE(wait_until([&] { return log_.contains("pipe read bad size"); }));
    EXPECT_TRUE(observer_.commands().empty());
    // The worker goes on with the next whole record.
    ASSERT_TRUE(send(*channel, make_request(3, true)));
    ASSERT_TRUE(receive(*channel).has_value());
    EXPECT_EQ(observer_.commands(), std::vector<int>{3});
}

TEST_F(PipeServerTest, ClientVanishingMidRecordEndsItsWorker) {
    start();
    {
        auto channel = connect();
        uint8_t bytes[kPipeRecordSize];
        encode_record(make_request(1, true), bytes);
        ASSERT_TRUE(channel->write_all(bytes, 10));
        ASSERT_TRUE(wait_until([&] { return log_.contains("pipe read bad size"); }));
    }
    ASSERT_TRUE(wait_until([&] { return log_.contains("PipeWorker exited run"); }));
    // One failed read after the partial one, then the end: no retries.
    EXPECT_EQ(count("pipe read error"), 1u);
    EXPECT_TRUE(observer_.commands().empty());
    // The server still serves the next client.
    auto next = connect();
    ASSERT_TRUE(send(*next, make_request(3, true)));
    EXPECT_TRUE(receive(*next).has_value());
}

// Each of these kept its worker, and with it a descriptor, for the life of the server.
TEST_F(PipeServerTest, ClientsLeavingWithoutAValidRequestLeaveNoWorkersBehind) {
    start();
    for (int i = 0; i < 40; ++i) {
        auto channel = connect();
        PipeRecord wrong = make_request(3, true);
        wrong.id = 1934;
        ASSERT_TRUE(send(*channel, wrong));
        ASSERT_FALSE(receive(*channel).has_value());
    }
    EXPECT_LT(server_->worker_count(), 10u);  // ended workers go when the next one comes
}

// Idle clients take every instance there is (ten on Windows); one that leaves makes room for
// the next, since the accept loop waits for an instance instead of ending.
TEST_F(PipeServerTest, TenIdleClientsDoNotEndTheAcceptLoop) {
    start();
    std::vector<std::unique_ptr<PipeClient::Channel>> idle;
    while (idle.size() < 10) idle.push_back(connect());
    ASSERT_TRUE(wait_until([&] { return server_->worker_count() == 10; }));
    idle.front()->close();
    PipeClient client;
    int status = 0;
    EXPECT_TRUE(wait_until([&] { return client.send_command(3, status); }));
    EXPECT_TRUE(server_->running());
}

TEST_F(PipeServerTest, ClientThatNeverReadsRepliesDoesNotHoldTheStop) {
    start();
    auto channel = connect();
    std::thread flood([&] {
        while (send(*channel, make_request(3, true))) {
        }
    });
    // The replies fill the buffers; the worker gives the blocked write up after its limit.
    EXPECT_TRUE(
        wait_until([&] { return log_.contains("write pipe error="); }, std::chrono::seconds(60)));
    server_->stop();  // interrupts the next blocked write and closes the client: the flood ends
    flood.join();
    EXPECT_TRUE(log_.contains("PipeServer stoped"));
    server_.reset();
}

TEST_F(PipeServerTest, SecondClientTakesTheChannelOver) {
    start();
    auto first = connect();
    ASSERT_TRUE(send(*first, make_request(3, true)));
    ASSERT_TRUE(receive(*first).has_value());
    auto second = connect();
    ASSERT_TRUE(send(*second, make_request(3, true)));
    ASSERT_TRUE(receive(*second).has_value());
    // The first client's worker was ended and its pipe closed.
    EXPECT_FALSE(receive(*first).has_value());
    EXPECT_TRUE(log_.contains_in_order({"PipeWorker stop", "PipeWorker stopped"}));
    EXPECT_EQ(server_->worker_count(), 1u);  // the ended worker is gone from the list
    ASSERT_TRUE(send(*second, make_request(2, true)));
    EXPECT_TRUE(receive(*second).has_value());
}

TEST_F(PipeServerTest, TenClientsAtOnceAreEachAnswered) {
    start();
    constexpr int kClients = 10;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            PipeClient client;
            int status = 0;
            if (wait_until([&] { return client.send_command(1001 + i, status); }) &&
                status == 1101 + i) {
                ++answered;
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(answered.load(), kClients);
    EXPECT_EQ(observer_.commands().size(), static_cast<size_t>(kClients));
}

TEST_F(PipeServerTest, StopEndsConnectedClients) {
    start();
    auto served = connect();
    ASSERT_TRUE(send(*served, make_request(3, true)));
    ASSERT_TRUE(receive(*served).has_value());
    auto silent = connect();
    ASSERT_TRUE(wait_until([&] { return server_->worker_count() == 2; }));
    server_->stop();
    EXPECT_FALSE(server_->running());
    EXPECT_EQ(server_->worker_count(), 0u);
    EXPECT_FALSE(receive(*served).has_value());
    EXPECT_FALSE(receive(*silent).has_value());
    EXPECT_TRUE(log_.contains_in_order(
        {"PipeServer stopping...", "PipeServer thread exited", "PipeServer stoped"}));
    EXPECT_EQ(count("PipeWorker stopped"), 2u);
    server_.reset();
}

TEST_F(PipeServerTest, ClientReconnectsAfterTheServerComesBack) {
    PipeClient client;
    int status = 0;
    EXPECT_FALSE(client.send_command(3, status));  // nobody listening
    start();
    ASSERT_TRUE(wait_until([&] { return client.send_command(3, status); }));
    EXPECT_EQ(status, 103);
    server_->stop();
    server_ = std::make_unique<PipeServer>(observer_);
    start();
    EXPECT_FALSE(client.send_command(3, status));  // the old connection is gone
    ASSERT_TRUE(wait_until([&] { return client.send_command(2, status); }));
    EXPECT_EQ(status, 102);
}

}  // namespace
}  // namespace quietway::testing
