#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "common/net/download_dir.h"
#include "common/net/downloader.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"
#include "tests/updater/app/updater_fakes.h"
#include "tests/updater/vendor/vendor_server.h"
#include "updater/sync/version_record.h"

namespace quietway::testing {
namespace {

namespace fs = std::filesystem;

std::string hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string md5_hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr);
    return hex(digest, size);
}

// A fresh Ed25519 key pair that signs the test's installers.
class SigningKey {
public:
    SigningKey() {
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
        EVP_PKEY* made = nullptr;
        if (ctx && EVP_PKEY_keygen_init(ctx.get()) == 1) EVP_PKEY_keygen(ctx.get(), &made);
        key_.reset(made);
    }
    std::string public_hex() const {
        unsigned char raw[32];
        size_t size = sizeof raw;
        if (!key_ || EVP_PKEY_get_raw_public_key(key_.get(), raw, &size) != 1) return {};
        return hex(raw, size);
    }
    std::string sign(const std::string& data) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
        std::string signature(64, '\0');
        size_t size = signature.size();
        auto* out = reinterpret_cast<unsigned char*>(signature.data());
        const auto* in = reinterpret_cast<const unsigned char*>(data.data());
        if (!key_ || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
            EVP_DigestSign(ctx.get(), out, &size, in, data.size()) != 1) {
            return {};
        }
        return signature;
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{nullptr, EVP_PKEY_free};
};

// Downloads go to a directory of the test's own.
struct DownloadDirEnv {
    TempDir dir;
    ScopedEnv env{kDownloadDirEnv, (dir / "downloads").string()};
};

std::string unique_name() {
    std::random_device random;
    return "qw-setup-" + std::to_string(random()) + QUIETWAY_INSTALLER_SUFFIX;
}

// A real installer naming `product` and `version`, made by the build.
std::string installer_of(const std::string& product, const std::string& version) {
    return read_file(program_directory() + "/installers/" + product + "-" + version +
                     QUIETWAY_INSTALLER_SUFFIX);
}

class CheckUpdateTest : public StoreTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.started());
        ASSERT_FALSE(installer_.empty());
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app",
                                      "app_version", "1.0.0.9"));
        ASSERT_TRUE(set_setting_string("app", "update_server_url", server_.url("/version.txt")));
        ASSERT_TRUE(set_setting_string("app", kUpdateKeyValue, key_.public_hex()));
        ASSERT_FALSE(download_dir().empty());
        installer_path_ = download_dir() + file_name_;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(installer_path_, ignored);
        fs::remove(installer_path_ + ".sig", ignored);
    }

    // Publishes `installer` (the newest build when empty) with `signature` (the vendor key's
    // when not given, none when empty) and a record of `version` with `digest` (the right one
    // when empty), then runs one check.
    void check(QuietwayUpdaterApp& app, const std::string& version, const std::string& digest = {},
               std::string bytes = {}, std::optional<std::string> signature = {}) {
        if (bytes.empty()) bytes = installer_;
        write_file(root_ / file_name_, bytes);
        write_file(root_ / (file_name_ + ".sig"), signature.value_or(key_.sign(bytes)));
        if (signature && signature->empty()) fs::remove(root_ / (file_name_ + ".sig"));
        write_file(root_ / "version.txt", version + " " + file_name_ + " " +
                                              (digest.empty() ? md5_hex(bytes) : digest) + "\n" +
                                              server_.url("/" + file_name_) + "\n");
        app.check_update();
    }
    bool installer_requested() const {
        for (const std::string& line : server_.requests()) {
            if (line == "GET /" + file_name_) return true;
        }
        return false;
    }
    std::string update_info() const {
        std::string value;
        get_setting_string("app", "update_info", value);
        return value;
    }

    TempDir root_;
    VendorServer server_{root_.path()};
    DownloadDirEnv download_env_;
    LogCapture log_{kUpdaterLogFile};
    Fakes fakes_;
    const SigningKey key_;
    QuietwayUpdaterApp app_{nullptr, fakes_.seams()};
    const std::string installer_ = installer_of("quietway", "1.0.0.10");
    const std::string file_name_ = unique_name();
    std::string installer_path_;
};

TEST_F(CheckUpdateTest, NewerRecordIsDownloadedVerifiedAndRecorded) {
    TempDir elsewhere;
    const fs::path older = elsewhere / "old-setup";
    write_file(older, "old");
    ASSERT_TRUE(set_setting_string("app", "update_info", older.string()));
    ASSERT_TRUE(app_.init());
    check(app_, "1.0.0.10");  // newer by number, though not as text
    EXPECT_TRUE(log_.contains_in_order(
        {"Client version is obsolete!", "Delete old installer!", "Download update succesfull!"}));
    EXPECT_FALSE(fs::exists(older));
    EXPECT_EQ(update_info(), installer_path_);
    EXPECT_EQ(read_file(installer_path_), installer_);
    EXPECT_TRUE(app_.update_downloaded());
    EXPECT_EQ(app_.downloaded_version(), "1.0.0.10");
    // The downloaded version is now the one compared against.
    app_.check_update();
    EXPECT_TRUE(log_.contains("You have the most recent version! (1.0.0.10)"));
}

TEST_F(CheckUpdateTest, InstallerAlreadyInPlaceIsRecordedWithoutADownload) {
    write_file(installer_path_, installer_);
    ASSERT_TRUE(app_.init());
    check(app_, "1.0.0.10");
    EXPECT_FALSE(installer_requested());
    EXPECT_EQ(update_info(), installer_path_);
    EXPECT_TRUE(app_.update_downloaded());
}

TEST_F(CheckUpdateTest, AVerifiedInstallerRunsUntilItIsChanged) {
    ASSERT_TRUE(app_.init());
    check(app_, "1.0.0.10");
    ASSERT_TRUE(app_.update_downloaded());
    app_.install_update();
    app_.install_update();
    const std::string run = "install " + installer_path_;
    EXPECT_EQ(std::count(fakes_.processes.calls.begin(), fakes_.processes.calls.end(), run), 2);
    EXPECT_TRUE(app_.installing());
    EXPECT_TRUE(log_.contains_in_order(
        {"Installing new version!!!", "New version was not installed! Try installing..."}));

    write_file(installer_path_, installer_ + "changed on disk");
    app_.install_update();
    EXPECT_EQ(std::count(fakes_.processes.calls.begin(), fakes_.processes.calls.end(), run), 2);
    EXPECT_TRUE(log_.contains("Installer changed since it was verified! Deleted."));
    EXPECT_FALSE(fs::exists(installer_path_));
    EXPECT_FALSE(app_.update_downloaded());
}

TEST_F(CheckUpdateTest, InstallerWithAWrongDigestIsDeleted) {
    ASSERT_TRUE(app_.init());
    check(app_, "1.0.0.10", std::string(32, '0'));
    EXPECT_TRUE(installer_requested());
    EXPECT_TRUE(log_.contains("Download update FAILED!"));
    EXPECT_FALSE(fs::exists(installer_path_));
    EXPECT_EQ(update_info(), "");
    EXPECT_FALSE(app_.update_downloaded());
}

// The digest only proves an intact transfer: without a signature by the store's key nothing
// runs, and without a key nothing is even fetched.
TEST_F(CheckUpdateTest, OnlyAnInstallerSignedByTheStoresKeyIsAccepted) {
    const struct {
        const char* name;
        std::string key;        // the store's; empty: none
        std::string signature;  // empty: none published
        bool fetched;
        bool accepted;
    } cases[] = {
        {"no key", "", key_.sign(installer_), false, false},
        {"malformed key", "abc", key_.sign(installer_), false, false},
        {"other data", key_.public_hex(), key_.sign(installer_ + "!"), true, false},
        {"other key", key_.public_hex(), SigningKey().sign(installer_), true, false},
        {"missing", key_.public_hex(), "", true, false},
        {"good", key_.public_hex(), key_.sign(installer_), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delete_reg_value("SOFTWARE\\Quietway2\\app", kUpdateKeyValue);
        if (!c.key.empty()) set_setting_string("app", kUpdateKeyValue, c.key);
        LogCapture log(kUpdaterLogFile);
        QuietwayUpdaterApp app(nullptr, fakes_.seams());
        ASSERT_TRUE(app.init());
        const size_t requests = server_.requests().size();
        check(app, "1.0.0.10", {}, {}, c.signature);
        app.check_update();
        EXPECT_EQ(server_.requests().size() > requests, c.fetched);
        EXPECT_EQ(app.update_downloaded(), c.accepted);
        EXPECT_EQ(fs::exists(installer_path_), c.accepted);
        EXPECT_EQ(log.contains("Installer signature INVALID!"), c.fetched && !c.accepted);
        EXPECT_EQ(log.count("Self-update is OFF: no valid signing key"), c.fetched ? 0u : 1u);
        if (c.accepted) {
            // The signature kept beside the installer passes the check before the run.
            app.install_update();
            EXPECT_TRUE(app.installing()) << log.text();
        }
        TearDown();
    }
}

// The record's version is not signed: the installer itself must be this client, at the
// record's version, newer than the installed one.
TEST_F(CheckUpdateTest, AnInstallerRunsOnlyWhenItIsThisClientAndNewer) {
    const struct {
        const char* product;
        const char* version;  // what the installer carries
        const char* record;   // what the record offers
        bool accepted;
    } cases[] = {
        {"quietway", "1.0.0.10", "1.0.0.10", true},
        {"quietway", "1.0.0.8", "1.0.0.10", false},   // an older signed build: a rollback
        {"quietway", "1.0.0.9", "1.0.0.10", false},   // the installed version again
        {"quietway", "1.0.0.10", "1.0.0.11", false},  // not what the record named
        {"othervpn", "1.0.0.10", "1.0.0.10", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.product) + " " + c.version + " as " + c.record);
        LogCapture log(kUpdaterLogFile);
        QuietwayUpdaterApp app(nullptr, fakes_.seams());
        ASSERT_TRUE(app.init());
        check(app, c.record, {}, installer_of(c.product, c.version));
        EXPECT_EQ(app.update_downloaded(), c.accepted);
        EXPECT_EQ(fs::exists(installer_path_), c.accepted);
        EXPECT_EQ(log.contains("Installer refused: "), !c.accepted) << log.text();
        TearDown();
    }
}

}  // namespace
}  // namespace quietway::testing
