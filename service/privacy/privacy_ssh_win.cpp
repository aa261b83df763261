#include <string>
#include <vector>

#include "service/privacy/privacy_ssh.h"

namespace quietway {

// The runner quotes each argument for the command line, so blanks and quotes survive.
bool ssh_password_option(const std::string&, const std::string& password,
                         std::vector<std::string>& option, std::string& file) {
    file.clear();
    option = {"-pw", password};
    return true;
}

void remove_password_file(const std::string&) {}

}  // namespace quietway
