#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "updater/sync/version_record.h"

// The checks an installer passes before it may run: its MD5 digest against the version
// record (an intact transfer) and its detached Ed25519 signature by the store's signing key.
namespace quietway {
namespace {

constexpr size_t kDigestBlock = 1024;
constexpr size_t kDigestHexDigits = 32;
constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;
// Ed25519 signs the whole message at once, so the installer is read into memory; anything
// larger than this is not an installer of ours.
constexpr size_t kMaxSignedFile = 512u * 1024u * 1024u;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct DigestCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes exactly `bytes.size()` * 2 hexadecimal digits.
template <size_t N>
bool decode_hex(std::string_view text, std::array<unsigned char, N>& bytes) {
    if (text.size() < N * 2) return false;
    for (size_t i = 0; i < N; ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

// The whole file, or false when it cannot be read or is larger than `limit`.
bool read_whole_file(const std::string& path, size_t limit, std::vector<unsigned char>& out) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    out.clear();
    std::array<unsigned char, 65536> block;
    for (;;) {
        const size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got > limit - out.size()) return false;
        out.insert(out.end(), block.begin(), block.begin() + got);
        if (got < block.size()) return std::ferror(file.get()) == 0;
    }
}

}  // namespace

bool file_md5_matches(const std::string& path, std::string_view digest) {
    std::array<unsigned char, kDigestHexDigits / 2> expected;
    if (!decode_hex(digest.substr(0, kDigestHexDigits), expected)) return false;

    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    std::unique_ptr<EVP_MD_CTX, DigestCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return false;
    std::array<unsigned char, kDigestBlock> block;
    size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
        if (EVP_DigestUpdate(ctx.get(), block.data(), got) != 1) return false;
    }
    if (std::ferror(file.get())) return false;
    std::array<unsigned char, EVP_MAX_MD_SIZE> actual;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), actual.data(), &length) != 1) return false;
    return length == expected.size() &&
           std::equal(expected.begin(), expected.end(), actual.begin());
}

bool is_update_key(std::string_view key) {
    std::array<unsigned char, kPublicKeyBytes> bytes;
    return key.size() == kPublicKeyBytes * 2 && decode_hex(key, bytes);
}

bool installer_signature_valid(const std::string& path, const std::string& signature_path,
                               std::string_view public_key_hex) {
    std::array<unsigned char, kPublicKeyBytes> key_bytes;
    if (!is_update_key(public_key_hex) || !decode_hex(public_key_hex, key_bytes)) return false;
    std::vector<unsigned char> signature;
    if (!read_whole_file(signature_path, kSignatureBytes + 1, signature) ||
        signature.size() != kSignatureBytes) {
        return false;
    }
    std::vector<unsigned char> message;
    if (!read_whole_file(path, kMaxSignedFile, message)) return false;

    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key_bytes.data(), key_bytes.size()));
    std::unique_ptr<EVP_MD_CTX, DigestCtxFree> ctx(EVP_MD_CTX_new());
    if (!key || !ctx) return false;
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}

}  // namespace quietway
