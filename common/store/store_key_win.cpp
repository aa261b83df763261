#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>

#include <string>
#include <string_view>

#include "common/os/local_memory_win.h"
#include "common/store/store.h"
#include "common/store/store_key_win.h"

namespace quietway {

namespace {

// RegCreateKeyExA with `descriptor` for a key it creates. The DACL is set once more on the new
// key through a handle of its own with WRITE_DAC (which the creator, as the owner, always
// has): some registry implementations ignore the descriptor given at creation.
bool create_level(HKEY parent, const std::string& name, REGSAM access,
                  PSECURITY_DESCRIPTOR descriptor, RegKey& key) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                        &attributes, &created, &disposition) != ERROR_SUCCESS)
        return false;
    key.reset(created);
    if (disposition != REG_CREATED_NEW_KEY) return true;
    RegKey for_dacl;
    return RegOpenKeyExA(created, nullptr, 0, WRITE_DAC, for_dacl.receive()) == ERROR_SUCCESS &&
           RegSetKeySecurity(for_dacl.get(), DACL_SECURITY_INFORMATION, descriptor) ==
               ERROR_SUCCESS;
}

}  // namespace

bool create_store_key(const char* path, REGSAM access, RegKey& key) {
    if (path == nullptr || *path == '\0' || !key_path_fits(path)) return false;
    // A null DACL: every account, the tray in the user's session included, has full access.
    SECURITY_DESCRIPTOR open{};
    LocalMemory protect;
    if (!InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(kProtectedKeyDacl, SDDL_REVISION_1,
                                                              protect.receive(), nullptr))
        return false;

    // One level per call, so that each created key gets the descriptor of its own place.
    std::string_view rest(path);
    if (rest.size() > 1 && rest.back() == '\\') rest.remove_suffix(1);
    RegKey parent;
    std::string reached;
    while (true) {
        const size_t end = rest.find('\\');
        const std::string name(rest.substr(0, end));
        reached += reached.empty() ? name : "\\" + name;
        const bool last = end == std::string_view::npos;
        RegKey child;
        if (!create_level(parent.get() != nullptr ? parent.get() : HKEY_LOCAL_MACHINE, name,
                          last ? access : KEY_CREATE_SUB_KEY,
                          is_open_key(reached) ? &open : protect.get(), child))
            return false;
        if (last) {
            key.swap(child);
            return true;
        }
        parent.swap(child);
        rest.remove_prefix(end + 1);
    }
}

}  // namespace quietway
