// The resolver file taken over and put back through the records, on files of the test's own
// (the per-link path needs systemd-resolved: see dns_resolved_root_test.sh).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "service/dns/dns_state_posix.h"
#include "service/dns/tunnel_resolver_posix.h"
#include "tests/support/test_support.h"

namespace quietway::dns {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::read_file;
using testing::write_file;

std::vector<DnsServer> tunnel_servers() {
    DnsServer server;
    server.family = AF_INET;
    server.bytes = {10, 99, 8, 1};
    server.text = "10.99.8.1";
    return {server};
}

class TunnelResolver : public ::testing::Test {
protected:
    // The file as a reader would find it: its kind, content or target, and mode.
    std::string seen() const {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(places_.resolv_conf, error);
        if (status.type() == fs::file_type::symlink) {
            return "link " + fs::read_symlink(places_.resolv_conf).string();
        }
        if (status.type() != fs::file_type::regular) return "absent";
        struct stat info {};
        ::stat(places_.resolv_conf.c_str(), &info);
        return "file " + std::to_string(info.st_mode & 07777) + " " +
               read_file(places_.resolv_conf);
    }
    bool apply(bool still_wanted = true) {
        return apply_tunnel_dns(places_, tunnel_servers(), "lo", nullptr,
                                [still_wanted] { return still_wanted; });
    }
    bool undo() {
        bool restored = false;
        return undo_tunnel_dns(places_, restored) && restored;
    }

    testing::TempDir dir_;
    ResolverPlaces places_{(dir_ / "resolv.conf").string(), (dir_ / "dns").string()};
};

TEST_F(TunnelResolver, EachKindOfResolverFileComesBackExactly) {
    const std::string ours = "file 420 " + resolver_text(tunnel_servers());
    const std::function<void()> originals[] = {
        [&] {
            write_file(places_.resolv_conf, "nameserver 192.168.1.1\r\n# \xff odd bytes\0x"s);
            fs::permissions(places_.resolv_conf, fs::perms(0640));
        },
        [&] { fs::create_symlink("../run/elsewhere/resolv.conf", places_.resolv_conf); },
        [] {},
    };
    for (const auto& make_original : originals) {
        make_original();
        const std::string before = seen();
        ASSERT_TRUE(apply()) << before;
        EXPECT_EQ(seen(), ours) << before;
        // A second up (its down never ran) keeps the record of the machine's own file.
        ASSERT_TRUE(apply()) << before;
        ASSERT_TRUE(undo()) << before;
        EXPECT_EQ(seen(), before);
        EXPECT_FALSE(fs::exists(dir_ / "dns" / kSavedFileRecord));
        EXPECT_FALSE(fs::exists(dir_ / ".resolv.conf.quietway")) << "no temporary file left";
        fs::remove(places_.resolv_conf);
    }
}

TEST_F(TunnelResolver, ATunnelThatEndedMeanwhileLeavesNothing) {
    write_file(places_.resolv_conf, "nameserver 192.168.1.1\n");
    const std::string before = seen();
    EXPECT_FALSE(apply(false));
    EXPECT_EQ(seen(), before);
    bool restored = true;
    EXPECT_TRUE(undo_tunnel_dns(places_, restored));
    EXPECT_FALSE(restored);
}

TEST_F(TunnelResolver, AStateDirectoryOthersCanWriteIsNotUsed) {
    write_file(places_.resolv_conf, "nameserver 192.168.1.1\n");
    fs::create_directory(places_.state_dir);
    fs::permissions(places_.state_dir, fs::perms(0777));
    const std::string before = seen();
    EXPECT_FALSE(apply());
    EXPECT_EQ(seen(), before);
}

TEST(DnsRecords, OnlyWellFormedRecordsAreRead) {
    FileSnapshot snapshot;
    for (const char* bad : {"", "quietway-dns 1 file 644 0 0", "quietway-dns 1 file 9999 0 0\n",
                            "quietway-dns 1 file 644 x 0\n", "quietway-dns 1 absent\nx",
                            "quietway-dns 1 symlink\n", "quietway-dns 2 absent\n"}) {
        EXPECT_FALSE(parse_file_record(bad, snapshot)) << bad;
    }
    int index = 0;
    std::string device;
    EXPECT_TRUE(parse_link_record(link_record(7, "qwaytun0"), index, device));
    EXPECT_EQ(std::to_string(index) + device, "7qwaytun0");
    for (const char* bad : {"quietway-dns 1 link 0 qwaytun0\n", "quietway-dns 1 link 7 a/b\n",
                            "quietway-dns 1 link 7 qwaytun0\nx"}) {
        EXPECT_FALSE(parse_link_record(bad, index, device)) << bad;
    }
}

}  // namespace
}  // namespace quietway::dns
