#include "updater/sync/installer_identity.h"

#include "updater/sync/version_record.h"

namespace quietway {

bool installer_is_upgrade(const InstallerIdentity& identity, std::string_view record_version,
                          std::string_view installed) {
    int to_record = 0;
    int to_installed = 0;
    return identity.product == kInstallerProduct &&
           compare_versions(identity.version, record_version, to_record) && to_record == 0 &&
           compare_versions(identity.version, installed, to_installed) && to_installed > 0;
}

}  // namespace quietway
