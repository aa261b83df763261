#include <windows.h>
//
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/net/download_dir.h"
#include "common/net/downloader.h"
#include "common/os/local_memory_win.h"
#include "common/os/win_handle.h"

namespace quietway {
namespace {

constexpr const char* kDownloadSubdir = "\\Quietway\\downloads";
constexpr size_t kMaxDirLength = 200;
// SYSTEM and the administrators may do anything, users may read (the tray shows the banner
// images); nothing is inherited from the parent folder, which other users may write to.
constexpr const char* kDownloadDirAccess =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// Rights that let their holder put, change or remove files in the directory or change who
// may.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::string default_dir() {
    char base[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) !=
        S_OK) {
        return {};
    }
    return std::string(base) + kDownloadSubdir;
}

// The process's own user (SYSTEM for the service).
std::vector<BYTE> own_user_sid() {
    WinHandle token;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return {};
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    std::vector<BYTE> copy(GetLengthSid(sid));
    CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
    return copy;
}

bool is_trusted(PSID sid, const std::vector<BYTE>& own) {
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerSid) ||
           (!own.empty() && EqualSid(sid, const_cast<BYTE*>(own.data())));
}

// No one but the owner side may write: every entry that allows a write right names SYSTEM,
// the administrators, the creator-owner or this process's user.
bool only_trusted_write(PACL dacl, const std::vector<BYTE>& own) {
    if (dacl == nullptr) return false;  // a null DACL lets everyone in
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kWriteRights) != 0 &&
            !is_trusted(reinterpret_cast<PSID>(&allowed->SidStart), own)) {
            return false;
        }
    }
    return true;
}

// A real directory (no junction or link), owned by a trusted account, that only trusted
// accounts may write.
bool is_safe(const std::string& dir) {
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoA(
        dir.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
        nullptr, &dacl, nullptr, &descriptor);
    const LocalMemory held(descriptor);
    if (error != ERROR_SUCCESS) {
        log("Download directory %s: cannot read its access list, error %u", dir.c_str(),
            static_cast<unsigned>(error));
        return false;
    }
    const std::vector<BYTE> own = own_user_sid();
    return owner != nullptr && is_trusted(owner, own) && only_trusted_write(dacl, own);
}

// Creates the parent folders as they come and the directory itself with its own access list.
bool make_directory(const std::string& dir) {
    for (size_t at = dir.find('\\', 3); at != std::string::npos; at = dir.find('\\', at + 1)) {
        CreateDirectoryA(dir.substr(0, at).c_str(), nullptr);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kDownloadDirAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    const LocalMemory held(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return CreateDirectoryA(dir.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::string download_dir() {
    const char* chosen = std::getenv(kDownloadDirEnv);
    std::string dir = chosen != nullptr && *chosen != '\0' ? chosen : default_dir();
    for (char& c : dir) c = c == '/' ? '\\' : c;
    while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
    if (dir.size() < 4 || dir[1] != ':' || dir[2] != '\\' || dir.size() > kMaxDirLength) {
        log("Download directory refused: not an absolute path of at most %d characters",
            static_cast<int>(kMaxDirLength));
        return {};
    }
    if (!make_directory(dir) || !is_safe(dir)) {
        log("Download directory %s refused: not a directory that only SYSTEM and the "
            "administrators may write",
            dir.c_str());
        return {};
    }
    return dir + "\\";
}

void delete_download(const std::string& path) { DeleteFileA(path.c_str()); }

struct DownloadHold::Impl {
    WinHandle file;
};

DownloadHold::DownloadHold(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->file.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

DownloadHold::~DownloadHold() = default;

bool DownloadHold::held() const { return impl_->file.valid(); }

}  // namespace quietway
