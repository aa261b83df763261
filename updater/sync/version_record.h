#pragma once

#include <string>
#include <string_view>

// The version record on the update server and what the updater checks about an installer.
namespace quietway {

// Longest text of each token; a longer token makes the record unusable.
inline constexpr size_t kMaxVersionToken = 87;
inline constexpr size_t kMaxInstallerName = 99;
inline constexpr size_t kMaxDigestToken = 35;
inline constexpr size_t kMaxInstallerUrl = 103;

struct VersionRecord {
    std::string version;
    std::string file_name;
    std::string digest;
    std::string url;
};

// Splits the record's four white-space-separated tokens; false when one is missing or too
// long, or the installer name could leave the download directory (a path separator, "..").
bool parse_version_record(std::string_view text, VersionRecord& out);

// True when `candidate` is a version of exactly four dotted decimal numbers and is greater
// than `current`, compared number by number (a `current` that is not such a version counts
// as older than any).
bool is_newer_version(std::string_view current, std::string_view candidate);

// -1, 0 or 1 as `a` is lower than, equal to or greater than `b`, number by number; false
// unless both are versions of exactly four dotted decimal numbers.
bool compare_versions(std::string_view a, std::string_view b, int& order);

// The file's MD5 digest, read in 1024-byte blocks, equals the first 32 hexadecimal digits
// of `digest` (either case). False for an unreadable file or any other character.
bool file_md5_matches(const std::string& path, std::string_view digest);

// The store value (section "app") that holds the installer signing key: an Ed25519 public
// key as 64 hexadecimal digits. Without it no installer is fetched or run.
inline constexpr const char* kUpdateKeyValue = "update_public_key";

// Whether `key` is a public key as kUpdateKeyValue holds it.
bool is_update_key(std::string_view key);

// True when `signature_path` holds a valid detached Ed25519 signature (64 raw bytes) of the
// file at `path` for `public_key_hex`.
bool installer_signature_valid(const std::string& path, const std::string& signature_path,
                               std::string_view public_key_hex);

}  // namespace quietway
