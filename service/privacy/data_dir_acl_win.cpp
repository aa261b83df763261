#include <windows.h>
// after windows.h, which they need
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/os/local_memory_win.h"
#include "common/os/win_handle.h"
#include "service/privacy/data_dir_acl.h"

namespace quietway {
namespace {

// SYSTEM and the administrators, inherited by everything below; nothing from the parent. The
// owner is used only where the present one is not trusted.
constexpr const char* kPrivateDescriptor = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// SYSTEM, the administrators and this process's account (SYSTEM when running as the service).
class TrustedAccounts {
public:
    TrustedAccounts() {
        WinHandle token;
        DWORD size = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        user_.resize(size);
        known_ = size > 0 && GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size);
    }
    bool known() const { return known_; }
    bool contains(PSID sid) const {
        return IsWellKnownSid(sid, WinLocalSystemSid) ||
               IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid);
    }

private:
    std::vector<BYTE> user_;
    bool known_ = false;
};

// A trusted owner and a DACL in which no entry lets anyone else in (deny entries only take
// away).
bool only_trusted(HANDLE object, const TrustedAccounts& trusted, bool& owner_trusted) {
    LocalMemory descriptor;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, descriptor.receive()) != ERROR_SUCCESS)
        return false;
    owner_trusted = owner != nullptr && trusted.contains(owner);
    if (!owner_trusted || dacl == nullptr) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return false;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !trusted.contains(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart))
            return false;
    }
    return true;
}

// Closes `path` to everyone but the trusted accounts, through a handle that does not follow a
// link, on the object alone: nothing is carried down a tree that might lead elsewhere.
bool close_to_others(const std::string& path, PSECURITY_DESCRIPTOR wanted,
                     const TrustedAccounts& trusted) {
    WinHandle object(
        CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    bool owner_trusted = false;
    if (!object.valid() || !GetFileInformationByHandle(object.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    if (only_trusted(object.get(), trusted, owner_trusted)) return true;
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (!owner_trusted) what |= OWNER_SECURITY_INFORMATION;
    if (!SetKernelObjectSecurity(object.get(), what, wanted) ||
        !only_trusted(object.get(), trusted, owner_trusted))
        return false;
    log("%s was open to other users: now SYSTEM's and the administrators' only", path.c_str());
    return true;
}

// What the directory held before it was closed: server directories and their files. Links are
// left alone (provisioning refuses them); a failure is logged, the files are rewritten anyway.
void close_entries(const std::string& dir, PSECURITY_DESCRIPTOR wanted,
                   const TrustedAccounts& trusted, int depth) {
    std::error_code error;
    const std::filesystem::directory_iterator end;
    for (std::filesystem::directory_iterator it(dir, error); !error && it != end;
         it.increment(error)) {
        const std::string path = it->path().string();
        const DWORD attrs = GetFileAttributesA(path.c_str());
        if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        if (!close_to_others(path, wanted, trusted)) {
            log("%s cannot be closed to other users (error %lu)", path.c_str(), GetLastError());
        }
        if (depth > 0 && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            close_entries(path, wanted, trusted, depth - 1);
        }
    }
}

}  // namespace

bool secure_data_directory(const std::string& dir) {
    LocalMemory wanted;
    const TrustedAccounts trusted;
    if (!trusted.known() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                kPrivateDescriptor, SDDL_REVISION_1, wanted.receive(), nullptr)) {
        log("data directory %s: its access list cannot be built (error %lu)", dir.c_str(),
            GetLastError());
        return false;
    }
    // Created private, so that no other user can open it before the check below.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, wanted.get(), FALSE};
    if (!CreateDirectoryA(dir.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
        log("data directory %s cannot be made (error %lu)", dir.c_str(), GetLastError());
        return false;
    }
    const DWORD attrs = GetFileAttributesA(dir.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        !close_to_others(dir, wanted.get(), trusted)) {
        log("data directory %s is a link, no directory or cannot be closed to other users "
            "(error %lu): servers are not prepared",
            dir.c_str(), GetLastError());
        return false;
    }
    close_entries(dir, wanted.get(), trusted, 1);
    return true;
}

bool is_link(const std::string& path) {
    const DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace quietway
