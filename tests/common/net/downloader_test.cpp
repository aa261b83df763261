#include "common/net/downloader.h"

#include <gtest/gtest.h>

#include <random>

#include "common/net/http_fetch.h"
#include "tests/support/log_capture.h"
#include "tests/updater/vendor/vendor_server.h"

namespace quietway {
namespace {

using testing::read_file;
using testing::write_file;
namespace fs = std::filesystem;

// Bytes that differ from position to position, so a shifted or doubled copy shows.
std::string pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return data;
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.started());
        // The Windows download directory is the shared temporary one: names of this run only.
        name_ = "qw-net-" + std::to_string(std::random_device()()) + ".bin";
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove(dir_ + name_, ignored);
    }
    void publish(const std::string& name, const std::string& data) {
        fs::create_directories((site_ / name).parent_path());
        write_file(site_ / name, data);
    }

    testing::LogCapture log_{kUpdaterLogFile};
    testing::TempDir site_;
    testing::TempDir downloads_;
    testing::ScopedEnv download_env_{"QUIETWAY_DOWNLOAD_DIR", downloads_.str()};
    testing::ScopedEnv stall_env_{"QUIETWAY_HTTP_STALL_SECONDS", "3"};
    testing::VendorServer server_{site_.path()};
    std::string dir_ = download_dir();
    std::string name_;
};

TEST_F(DownloaderTest, OnlyTheHttpSchemeIsFetchedAndAnotherCreatesNoFile) {
    publish("f.bin", "data");
    const std::string target = (downloads_ / "out.bin").string();
    const std::string address = server_.url("/f.bin").substr(4);  // "://127.0.0.1:PORT/f.bin"
    EXPECT_TRUE(download_file("HTTP" + address, true, nullptr, target));
    EXPECT_EQ(read_file(target), "data");
    fs::remove(target);
    EXPECT_FALSE(download_file("ftp" + address, true, nullptr, target));
    EXPECT_FALSE(download_file("htt", true, nullptr, target));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(DownloaderTest, AResourceWithoutALengthFailsAndItsFileIsDeleted) {
    ASSERT_FALSE(dir_.empty());
    publish(name_, "no length here");
    std::string path;
    EXPECT_FALSE(download_to_temp(server_.url("/nolength/" + name_), path));
    EXPECT_EQ(path, dir_ + name_);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(DownloaderTest, AnEmptyResourceLeavesTheExistingFileAlone) {
    publish("empty.bin", "");
    const fs::path target = downloads_ / "empty.bin";
    write_file(target, "older bytes");
    EXPECT_TRUE(download_file(server_.url("/empty.bin"), false, nullptr, target.string()));
    EXPECT_EQ(read_file(target), "older bytes");
}

TEST_F(DownloaderTest, AFileOfTheAnnouncedLengthIsTakenAsComplete) {
    ASSERT_FALSE(dir_.empty());
    publish(name_, pattern(300));
    write_file(dir_ + name_, std::string(300, 'x'));
    std::string path;
    EXPECT_TRUE(download_to_temp(server_.url("/" + name_), path));
    EXPECT_EQ(read_file(path), std::string(300, 'x'));
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"GET /" + name_});
}

TEST_F(DownloaderTest, AFileOfAnotherLengthIsStartedOver) {
    const std::string resource = pattern(25000);  // three reads of 10240 bytes
    publish("big.bin", resource);
    for (const size_t old_size : {size_t{10}, size_t{40000}}) {
        const fs::path target = downloads_ / "big.bin";
        write_file(target, std::string(old_size, 'x'));
        EXPECT_TRUE(download_file(server_.url("/big.bin"), false, nullptr, target.string()));
        EXPECT_EQ(read_file(target), resource) << "old size " << old_size;
    }
}

TEST_F(DownloaderTest, AnAbortSetBeforehandReadsNothing) {
    publish("f.bin", "data");
    const fs::path target = downloads_ / "f.bin";
    write_file(target, "old");
    const std::atomic<uint8_t> abort{1};
    EXPECT_FALSE(download_file(server_.url("/f.bin"), true, &abort, target.string()));
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(read_file(target), "");
}

TEST_F(DownloaderTest, AnAddressEndingInASlashNamesTheDirectoryAndFails) {
    ASSERT_FALSE(dir_.empty());
    std::string path;
    EXPECT_FALSE(download_to_temp(server_.url("/folder/"), path));
    EXPECT_EQ(path, dir_);
    EXPECT_TRUE(fs::is_directory(dir_));
}

#ifndef _WIN32
// Windows keeps WinINet's own time-outs, which no test waits for.
TEST_F(DownloaderTest, AStalledBodyFailsAfterTheStallLimit) {
    publish("f.bin", pattern(5000));
    EXPECT_FALSE(
        download_file(server_.url("/stall/f.bin"), true, nullptr, (downloads_ / "f.bin").string()));
}
#endif

TEST_F(DownloaderTest, ABodyCutShortFails) {
    publish("f.bin", pattern(5000));
    EXPECT_FALSE(
        download_file(server_.url("/short/f.bin"), true, nullptr, (downloads_ / "f.bin").string()));
    std::string body;
    uint32_t error = 0;
    EXPECT_EQ(fetch_document(server_.url("/short/f.bin"), 8000, body, error),
              FetchStatus::read_failed);
    EXPECT_EQ(body, "");
}

TEST_F(DownloaderTest, FetchesReadTheWholeBodyWithinTheirLimit) {
    const std::string document = "<servers>" + pattern(1500) + "</servers>";
    publish("list.xml", document);
    publish("record.txt", pattern(700));
    std::string body;
    uint32_t error = 0;
    EXPECT_EQ(fetch_document(server_.url("/split/list.xml"), 2047, body, error), FetchStatus::ok);
    EXPECT_EQ(body, document);
    EXPECT_EQ(fetch_document(server_.url("/nolength/list.xml"), 2047, body, error),
              FetchStatus::ok);
    EXPECT_EQ(body, document);
    EXPECT_EQ(fetch_document(server_.url("/split/list.xml"), 1000, body, error),
              FetchStatus::too_long);
    EXPECT_EQ(fetch_document(server_.url("/nolength/list.xml"), 1000, body, error),
              FetchStatus::too_long);
    EXPECT_EQ(body, "");

    char buffer[513];
    EXPECT_EQ(fetch_text(server_.url("/record.txt"), buffer, 512), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(fetch_text(server_.url("/split/record.txt"), buffer, 512), 0u);
    publish("short.txt", pattern(512));
    EXPECT_EQ(fetch_text(server_.url("/split/short.txt"), buffer, 512), 512u);
    EXPECT_EQ(std::string(buffer), pattern(512));
}

TEST_F(DownloaderTest, FetchFailuresAreLoggedWithTheirCode) {
    char buffer[513];
    EXPECT_EQ(fetch_text(server_.url("/missing.txt"), buffer, 512), 0u);
    EXPECT_TRUE(log_.contains("ERROR InternetOpenUrl!!!! Code = 404")) << log_.text();
    publish("short.txt", pattern(100));
    EXPECT_EQ(fetch_text(server_.url("/short/short.txt"), buffer, 512), 0u);
    EXPECT_TRUE(log_.contains("ERROR InternetReadFile!!!! Code = ")) << log_.text();
    EXPECT_EQ(fetch_text(server_.url("/x/set_notification_state.php?id=3&state=1"), buffer, 2047),
              2u);
    EXPECT_STREQ(buffer, "ok");
}

}  // namespace
}  // namespace quietway
