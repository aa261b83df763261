#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "updater/sync/version_record.h"

namespace quietway {
namespace {

TEST(VersionRecord, TokensAreBoundedToTheirFields) {
    const std::string v87 = "1." + std::string(85, '1');
    const std::string n99(99, 'n');
    const std::string d35(35, 'a');
    const std::string u103(103, 'u');
    struct Case {
        std::string text;
        bool parsed;
    } cases[] = {
        {"4.0.0.338 setup.exe 0123abcd http://h/setup.exe", true},
        {"\r\n 4.0.0.338\tsetup.exe\n0123abcd  http://h/s.exe\r\n", true},
        {v87 + " " + n99 + " " + d35 + " " + u103, true},
        {v87 + "1 " + n99 + " " + d35 + " " + u103, false},
        {v87 + " " + n99 + "n " + d35 + " " + u103, false},
        {v87 + " " + n99 + " " + d35 + "a " + u103, false},
        {v87 + " " + n99 + " " + d35 + " " + u103 + "u", false},
        {"4.0.0.338 setup.exe 0123abcd", false},
        {"", false},
        {"4.0.0.338 ../setup.exe 0123abcd http://h/s.exe", false},
        {"4.0.0.338 dir/setup.exe 0123abcd http://h/s.exe", false},
        {"4.0.0.338 dir\\setup.exe 0123abcd http://h/s.exe", false},
        {"4.0.0.338 setup..exe 0123abcd http://h/s.exe", false},
        {"4.0.0.338 C:setup.exe 0123abcd http://h/s.exe", false},
        {std::string("4.0.0.338 setup.exe\0 0123abcd http://h/s.exe", 44), false},
    };
    for (const Case& c : cases) {
        VersionRecord record;
        EXPECT_EQ(parse_version_record(c.text, record), c.parsed) << c.text;
    }
    VersionRecord record;
    ASSERT_TRUE(parse_version_record(cases[1].text, record));
    EXPECT_EQ(record.version, "4.0.0.338");
    EXPECT_EQ(record.file_name, "setup.exe");
    EXPECT_EQ(record.digest, "0123abcd");
    EXPECT_EQ(record.url, "http://h/s.exe");
}

TEST(VersionRecord, VersionsCompareNumberByNumber) {
    struct Case {
        const char* current;
        const char* candidate;
        bool newer;
    } cases[] = {
        {"1.0.0.9", "1.0.0.10", true},
        {"1.0.0.10", "1.0.0.9", false},
        {"1.0.0.10", "1.0.0.10", false},
        {"1.0.0.010", "1.0.0.10", false},
        {"1.2.3.4", "1.10.0.0", true},
        {"2.0.0.0", "10.0.0.0", true},
        {"1.0.0.0", "1.0.9", false},
        {"1.0.0.0", "9.1.0.0.0", false},
        {"1.0.0.0", "1.0.0.x", false},
        {"1.0.0.0", "1..0.1", false},
        {"1.0.0.0", "1.0.0.1.", false},
        {"1.0.0.0", "-1.0.0.1", false},
        {"", "0.0.0.1", true},
        {"unknown", "1.0.0.0", true},
        {"1.0.0.1", "99999999999999999999.0.0.0", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_newer_version(c.current, c.candidate), c.newer)
            << c.current << " -> " << c.candidate;
    }
}

TEST(VersionRecord, DigestMatchesTheFileInEitherCase) {
    testing::TempDir dir;
    const std::string fox = (dir / "fox").string();
    const std::string million = (dir / "million").string();
    testing::write_file(fox, "The quick brown fox jumps over the lazy dog");
    testing::write_file(million, std::string(1000000, 'a'));
    struct Case {
        const std::string& path;
        const char* digest;
        bool matches;
    } cases[] = {
        {fox, "9e107d9d372bb6826bd81d3542a419d6", true},
        {fox, "9E107D9D372BB6826BD81D3542A419D6", true},
        {fox, "9e107d9d372bb6826bd81d3542a419d6XYZ", true},  // only 32 digits count
        {fox, "9e107d9d372bb6826bd81d3542a419d7", false},
        {fox, "9g107d9d372bb6826bd81d3542a419d6", false},
        {fox, "9e107d9d372bb6826bd81d3542a419d", false},
        {million, "7707d6ae4e027c70eea2a935c2296f21", true},
        {million, "9e107d9d372bb6826bd81d3542a419d6", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(file_md5_matches(c.path, c.digest), c.matches) << c.digest;
    EXPECT_FALSE(file_md5_matches((dir / "missing").string(), "9e107d9d372bb6826bd81d3542a419d6"));
}

// A key pair of the test's own and the detached signature of `message`.
struct Signer {
    Signer() {
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
        std::array<unsigned char, 32> raw;
        size_t size = raw.size();
        if (key && EVP_PKEY_get_raw_public_key(key, raw.data(), &size) == 1) {
            static constexpr char kHex[] = "0123456789abcdef";
            for (unsigned char byte : raw) public_hex += {kHex[byte >> 4], kHex[byte & 15]};
        }
    }
    ~Signer() { EVP_PKEY_free(key); }
    std::string sign(const std::string& message) const {
        std::string signature(64, '\0');
        size_t size = signature.size();
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        const bool ok =
            EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
            EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(signature.data()), &size,
                           reinterpret_cast<const unsigned char*>(message.data()),
                           message.size()) == 1;
        EVP_MD_CTX_free(ctx);
        return ok && size == 64 ? signature : std::string();
    }
    EVP_PKEY* key = nullptr;
    std::string public_hex;
};

TEST(VersionRecord, SignatureIsAcceptedOnlyForTheFileAndKeyItWasMadeWith) {
    const Signer signer;
    const Signer other;
    ASSERT_EQ(signer.public_hex.size(), 64u);
    testing::TempDir dir;
    const std::string installer = (dir / "setup.deb").string();
    const std::string good = (dir / "good.sig").string();
    const std::string short_sig = (dir / "short.sig").string();
    const std::string content(300000, 'i');
    const std::string signature = signer.sign(content);
    ASSERT_EQ(signature.size(), 64u);
    testing::write_file(installer, content);
    testing::write_file(good, signature);
    testing::write_file(short_sig, signature.substr(0, 63));
    std::string upper = signer.public_hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    struct Case {
        const std::string& signature_path;
        std::string key;
        bool valid;
    } cases[] = {
        {good, signer.public_hex, true},
        {good, upper, true},
        {good, other.public_hex, false},
        {short_sig, signer.public_hex, false},
        {good, signer.public_hex.substr(0, 62), false},
        {good, signer.public_hex + "00", false},
        {good, "zz" + signer.public_hex.substr(2), false},
        {(dir / "missing.sig").string(), signer.public_hex, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(installer_signature_valid(installer, c.signature_path, c.key), c.valid)
            << c.signature_path << " " << c.key;
    }
    testing::write_file(installer, content + "x");
    EXPECT_FALSE(installer_signature_valid(installer, good, signer.public_hex));
}

}  // namespace
}  // namespace quietway
