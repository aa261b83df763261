#include "common/process/spawn_win.h"

#include <algorithm>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

// The attribute that limits inheritance to a list of handles.
class InheritList {
public:
    // `handles` must outlive the list.
    explicit InheritList(std::vector<HANDLE>& handles) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            return;
        }
        ready_ = true;
    }
    ~InheritList() {
        if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    // Null when the list could not be built; the system's last error then tells why.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return ready_ ? list_ : nullptr; }

private:
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ready_ = false;
};

// The list takes each handle once.
void keep_distinct_handles(std::vector<HANDLE>& handles) {
    std::erase_if(handles, [](HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; });
    std::sort(handles.begin(), handles.end());
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
}

}  // namespace

bool create_process_with_handles(const char* application, std::string& command_line, DWORD flags,
                                 const STARTUPINFOA& startup, std::vector<HANDLE> handles,
                                 PROCESS_INFORMATION& created) {
    STARTUPINFOA plain = startup;
    plain.cb = sizeof(plain);
    keep_distinct_handles(handles);
    if (handles.empty()) {
        return CreateProcessA(application, command_line.data(), nullptr, nullptr, FALSE, flags,
                              nullptr, nullptr, &plain, &created) != FALSE;
    }
    // Inheriting everything instead would hand the child whatever is inheritable now.
    InheritList inherit(handles);
    STARTUPINFOEXA extended{};
    extended.StartupInfo = plain;
    extended.StartupInfo.cb = sizeof(extended);
    extended.lpAttributeList = inherit.get();
    if (extended.lpAttributeList == nullptr) {
        const DWORD error = GetLastError();
        log("cannot limit the handles a child inherits, error %u", static_cast<unsigned>(error));
        SetLastError(error);
        return false;
    }
    return CreateProcessA(application, command_line.data(), nullptr, nullptr, TRUE,
                          flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                          &extended.StartupInfo, &created) != FALSE;
}

}  // namespace quietway
