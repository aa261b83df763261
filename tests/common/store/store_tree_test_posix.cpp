#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_tree_posix.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;
using Names = std::vector<std::string>;

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";

mode_t mode_of(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Sets the process umask for the life of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

class StoreTreeTest : public testing::StoreTest {
protected:
    fs::path root() const { return store_.root(); }
    fs::path app() const { return root() / "SOFTWARE" / "Quietway2" / "app"; }
};

TEST_F(StoreTreeTest, KeptSnapshotsShowWhatAnotherProcessWroteSince) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "a", "old"));
    // Keys unchanged for a few seconds are read from a snapshot kept in the process.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    std::string text;
    ASSERT_TRUE(read_reg_string(kApp, "a", text) && read_reg_string(kApp, "a", text));
    const pid_t child = ::fork();
    if (child == 0) {
        const bool written = write_reg_string(kApp, "a", "new") &&
                             create_reg_dword((std::string(kApp) + "\\sub").c_str(), "n", 1);
        ::_exit(written ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(read_reg_string(kApp, "a", text));
    EXPECT_EQ(text, "new");
    Names subkeys;
    ASSERT_TRUE(list_reg_subkeys(kApp, subkeys));
    EXPECT_EQ(subkeys, Names{"sub"});
}

TEST_F(StoreTreeTest, KeysAreDirectoriesAndValuesAreTypedFiles) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "app_dir", "/opt/quietway"));
    ASSERT_TRUE(create_reg_dword(kApp, "auto_update", 0x1F));
    EXPECT_TRUE(fs::is_directory(app()));
    EXPECT_EQ(read_file(app() / "@app_dir"), "REG_SZ\n/opt/quietway");
    EXPECT_EQ(read_file(app() / "@auto_update"), std::string("REG_DWORD\n\x1F\0\0\0", 14));
}

TEST_F(StoreTreeTest, OnlyNotificationKeysAreOpenToEveryUserWhateverTheUmask) {
    ScopedUmask strict(077);
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\Notifications\\5", "state", 0));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\servers\\3", "status", 0));
    ASSERT_TRUE(install_reg_key("SOFTWARE\\Quietway2\\notifications\\6"));
    const fs::path base = root() / "SOFTWARE" / "Quietway2";
    const std::pair<fs::path, mode_t> expected[] = {
        {root() / "SOFTWARE", 0755},
        {base, 0755},
        {base / "Notifications", 0777},
        {base / "Notifications" / "5", 0777},
        {base / "Notifications" / "5" / "@state", 0666},
        {base / "Notifications" / "6", 0777},
        {base / "servers", 0755},
        {base / "servers" / "3", 0755},
        {base / "servers" / "3" / "@status", 0644},
    };
    for (const auto& [path, mode] : expected) EXPECT_EQ(mode_of(path), mode) << path;
}

TEST_F(StoreTreeTest, InstalledKeysAreWritableByTheOwnerOnly) {
    ScopedUmask loose(0);
    ASSERT_TRUE(install_reg_value(kApp, {"app_dir", kValueTypeString, "/opt/quietway"}));
    EXPECT_EQ(mode_of(root() / "SOFTWARE"), 0755u);
    EXPECT_EQ(mode_of(app()), 0755u);
    EXPECT_EQ(mode_of(app() / "@app_dir"), 0644u);
    // Later writes into an installed key keep its permissions.
    ASSERT_TRUE(write_reg_dword(kApp, "privacy_status", 1));
    EXPECT_EQ(mode_of(app() / "@privacy_status"), 0644u);
}

TEST_F(StoreTreeTest, PasswordsAreReadableByRootOnlyAcrossWritesAndImports) {
    ScopedUmask loose(0);
    const fs::path base = root() / "SOFTWARE" / "Quietway2";
    // A file left by an older writer with the key's mode is narrowed by the next write.
    ASSERT_TRUE(install_reg_value("SOFTWARE\\Quietway2\\general", {"user", kValueTypeString, "u"}));
    write_file(base / "general" / "@password", "REG_SZ\nold");
    ASSERT_EQ(::chmod((base / "general" / "@password").c_str(), 0644), 0);
    ASSERT_TRUE(set_setting_string("general", "password", "p1"));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, "software\\QUIETWAY2\\HTTP",
                                  "RPC_Password", "p2"));
    ASSERT_TRUE(
        create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app", "password", "x"));
    ASSERT_TRUE(install_reg_value("SOFTWARE\\Quietway2\\General\\sub",
                                  {"password", kValueTypeString, "y"}));
    const std::pair<fs::path, mode_t> after_writes[] = {
        {base / "general" / "@password", 0600},
        {base / "HTTP" / "@RPC_Password", 0600},
        {base / "general" / "@user", 0644},
        {base / "app" / "@password", 0644},
        {base / "general" / "sub" / "@password", 0644},
    };
    for (const auto& [path, mode] : after_writes) EXPECT_EQ(mode_of(path), mode) << path;
    // An import and a number written over the value keep it private.
    ASSERT_TRUE(
        install_reg_value("SOFTWARE\\Quietway2\\http", {"rpc_password", kValueTypeString, "p3"}));
    ASSERT_TRUE(set_setting_dword("GENERAL", "PASSWORD", 7));
    EXPECT_EQ(mode_of(base / "HTTP" / "@RPC_Password"), 0600u);
    EXPECT_EQ(mode_of(base / "general" / "@password"), 0600u);
    EXPECT_EQ(read_file(base / "HTTP" / "@RPC_Password"), "REG_SZ\np3");
}

TEST_F(StoreTreeTest, NamesThatCannotBeFileNamesRoundTrip) {
    const Names value_names{"a/b", ".hidden", "50%", "tab\there", "", "@at", "..", "back\\slash"};
    for (const std::string& name : value_names) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, name.c_str(), "v:" + name))
            << name;
    }
    for (const std::string& name : value_names) {
        std::string text;
        EXPECT_TRUE(read_reg_string(kApp, name.c_str(), text)) << name;
        EXPECT_EQ(text, "v:" + name);
    }
    EXPECT_TRUE(fs::exists(app() / "@a%2Fb"));
    EXPECT_TRUE(fs::exists(app() / "@%2Ehidden"));
    EXPECT_TRUE(fs::exists(app() / "@"));

    const Names key_names{"..", "@key", "a/b", "%"};
    for (const std::string& name : key_names) {
        ASSERT_TRUE(create_reg_dword((std::string(kApp) + "\\" + name).c_str(), "x", 1)) << name;
    }
    Names listed;
    ASSERT_TRUE(list_reg_subkeys(kApp, listed));
    EXPECT_EQ(listed, (Names{"%", "..", "@key", "a/b"}));
    // ".." is only a name: nothing was made outside the key.
    EXPECT_TRUE(fs::is_directory(app() / "%2E."));
    EXPECT_FALSE(fs::exists(root() / "SOFTWARE" / "x"));
}

TEST_F(StoreTreeTest, EntriesNotInCanonicalFormAreIgnored) {
    ASSERT_TRUE(create_reg_dword(kApp, "real", 1));
    write_file(app() / "@%41", "REG_SZ\nsneaky");     // "A" spelled the long way
    write_file(app() / "@bad%zz", "REG_SZ\nbroken");  // not an escape at all
    write_file(app() / "@garbage", "NOT_A_TYPE\n");
    std::string text;
    EXPECT_FALSE(read_reg_string(kApp, "A", text));
    EXPECT_FALSE(read_reg_string(kApp, "garbage", text));
    std::vector<StoreValue> values;
    ASSERT_TRUE(list_reg_values(kApp, values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "real");
}

TEST_F(StoreTreeTest, CrashLeftoversAreIgnoredAndSweptWithTheKey) {
    const char* server = "SOFTWARE\\Quietway2\\servers\\4";
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, server, "name", "four"));
    const fs::path key = root() / "SOFTWARE" / "Quietway2" / "servers" / "4";
    write_file(key / ".tmp.99999.1", "REG_SZ\nhalf writ");
    std::vector<StoreValue> values;
    ASSERT_TRUE(list_reg_values(server, values));
    EXPECT_EQ(values.size(), 1u);
    ASSERT_TRUE(write_reg_string(server, "name", "four again"));
    EXPECT_TRUE(delete_reg_key(server));
    EXPECT_FALSE(fs::exists(key));
}

TEST_F(StoreTreeTest, WritesLeaveNoTemporaryFilesBehind) {
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(create_reg_dword(kApp, "n", static_cast<uint32_t>(i)));
    Names entries;
    for (const auto& entry : fs::directory_iterator(app()))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, Names{"@n"});
}

TEST_F(StoreTreeTest, SymbolicLinksInTheTreeAreNeverFollowed) {
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\notifications\\1", "state", 0));
    testing::TempDir elsewhere;
    const fs::path notifications = root() / "SOFTWARE" / "Quietway2" / "notifications";
    fs::create_directory_symlink(elsewhere.path(), notifications / "2");
    fs::create_symlink(elsewhere.path() / "target", notifications / "1" / "@title");

    EXPECT_FALSE(create_reg_dword("SOFTWARE\\Quietway2\\notifications\\2", "state", 1));
    EXPECT_FALSE(write_reg_dword("SOFTWARE\\Quietway2\\notifications\\2", "state", 1));
    std::string text;
    EXPECT_FALSE(read_reg_string("SOFTWARE\\Quietway2\\notifications\\1", "title", text));
    EXPECT_FALSE(delete_reg_key("SOFTWARE\\Quietway2\\notifications\\2"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(StoreTreeTest, APipeInPlaceOfAValueFailsWithoutBlocking) {
    ASSERT_TRUE(create_reg_dword(kApp, "real", 1));
    ASSERT_EQ(::mkfifo((app() / "@pipe").c_str(), 0666), 0);
    std::string text;
    EXPECT_FALSE(read_reg_string(kApp, "pipe", text));
}

TEST_F(StoreTreeTest, PathsWithEmptyOrOverlongNamesAreRefused) {
    std::string text;
    EXPECT_FALSE(create_reg_dword("SOFTWARE\\\\Quietway2", "x", 1));
    EXPECT_FALSE(read_reg_string("SOFTWARE\\\\Quietway2", "x", text));
    EXPECT_FALSE(create_reg_dword(("SOFTWARE\\" + std::string(256, 'k')).c_str(), "x", 1));
    EXPECT_TRUE(create_reg_dword(("SOFTWARE\\" + std::string(255, 'k')).c_str(), "x", 1));
    // The limits hold for the escaped file names: '/' takes three bytes.
    EXPECT_FALSE(key_name_fits(std::string(100, '/')));
    EXPECT_TRUE(key_name_fits(std::string(85, '/')));
    EXPECT_FALSE(create_reg_dword(("SOFTWARE\\" + std::string(100, '/')).c_str(), "x", 1));
    EXPECT_FALSE(create_reg_dword(kApp, std::string(255, 'v').c_str(), 1));
    EXPECT_TRUE(create_reg_dword(kApp, std::string(254, 'v').c_str(), 1));
    EXPECT_FALSE(value_name_fits(std::string(85, '/')));
    EXPECT_FALSE(create_reg_dword(kApp, std::string(85, '/').c_str(), 1));
    // A single trailing backslash names the same key.
    EXPECT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\", "y", 2));
    uint32_t y = 0;
    EXPECT_TRUE(read_reg_dword("SOFTWARE\\Quietway2", "y", y));
    EXPECT_EQ(y, 2u);
}

TEST_F(StoreTreeTest, OrderComparesNamesInUpperCase) {
    for (const char* name : {"_x", "b", "A"})
        ASSERT_TRUE(create_reg_dword((std::string(kApp) + "\\" + name).c_str(), "s", 0));
    Names names;
    ASSERT_TRUE(list_reg_subkeys(kApp, names));
    EXPECT_EQ(names, (Names{"A", "b", "_x"}));
}

TEST_F(StoreTreeTest, TheRootDefaultsToTheSystemDirectory) {
    testing::ScopedEnv unset(kRegistryEnv, "");
    EXPECT_EQ(store_tree::root_directory(), "/var/lib/quietway/registry");
}

}  // namespace
}  // namespace quietway
