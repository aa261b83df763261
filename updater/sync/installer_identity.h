#pragma once

#include <string>
#include <string_view>

// What a downloaded installer says it is, read from the installer itself: the version record
// that names it is not signed, so only this tells a newer client from an older signed one.
namespace quietway {

struct InstallerIdentity {
    std::string product;
    std::string version;
};

// The product an installer of this client names: the Debian package's name, or the setup
// program's ProductName.
extern const char* const kInstallerProduct;

// Linux: the package's "Package" and "Version" fields (dpkg-deb). Windows: the setup
// program's version resource (ProductName and the fixed file version). False when the file
// carries no identity that can be read.
bool read_installer_identity(const std::string& path, InstallerIdentity& out);

// An installer runs only when it is this client, carries the version its record named and
// that version is strictly newer than the `installed` one.
bool installer_is_upgrade(const InstallerIdentity& identity, std::string_view record_version,
                          std::string_view installed);

}  // namespace quietway
