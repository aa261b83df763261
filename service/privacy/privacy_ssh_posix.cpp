#include <filesystem>
#include <string>
#include <vector>

#include "service/privacy/privacy_ssh.h"
#include "service/privacy/provision_platform.h"

namespace quietway {

// Every local user can read a command line: the password goes in a file only root can read.
bool ssh_password_option(const std::string& server_dir, const std::string& password,
                         std::vector<std::string>& option, std::string& file) {
    file = server_dir + "/ssh_tunnel.pw";
    if (!write_whole_file(file, password, true)) return false;
    option = {"-pwfile", file};
    return true;
}

void remove_password_file(const std::string& file) {
    if (file.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

}  // namespace quietway
