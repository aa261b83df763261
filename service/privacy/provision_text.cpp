#include "service/privacy/provision_text.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "common/store/server_store.h"
#include "firewall/filter_set/vpn_device.h"

namespace quietway {
namespace {

std::string with_line_breaks(TargetForm form, const std::string& text) {
    if (form == TargetForm::posix) return text;
    // The Windows files are written in text mode: every "\n" is stored as CR LF.
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

std::string quote_escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string vpn_config_text(TargetForm form, const std::string& server_dir, const std::string& user,
                            const std::string& address_ip, const std::string& vpn_port) {
    if (!is_dotted_ipv4(address_ip) || !is_one_line(user)) return {};
    const std::string d = quote_escaped(server_dir);
    const std::string a = quote_escaped(server_dir + "auth.cfg");
    std::string text = "client\n";
    if (form == TargetForm::posix) {
        // Our own device name lets the kill switch permit this tunnel and no other.
        text += std::string("dev ") + kVpnDeviceName + "\ndev-type tun\nproto udp\n";
        // A Linux client refuses the Windows-only option as fatal unless it is marked optional.
        text += "setenv opt block-outside-dns\n";
    } else {
        text += "dev tun\nproto udp\nblock-outside-dns\n";
    }
    text += "remote " + address_ip + " " + vpn_port + "\n";
    text += "resolv-retry infinite\nnobind\npersist-key\npersist-tun\n";
    text += "ca \"" + d + "ca.crt\"\n";
    text += "cert \"" + d + quote_escaped(user) + ".crt\"\n";
    text += "key \"" + d + quote_escaped(user) + ".key\"\n";
    text += "auth-user-pass \"" + a + "\"\n";
    text += "remote-cert-tls server\n";
    text += "tls-auth \"" + d + "ta.key\" 1\n";
    text += "cipher DES-EDE3-CBC\n";
    text += "comp-lzo\n";
    text +=
        "verb 3\nroute-method exe\nroute-delay 2\ntun-mtu 1500\ntun-mtu-extra 32\n"
        "fragment 1468\nmssfix 1436\n";
    return with_line_breaks(form, text);
}

std::string auth_text(TargetForm form, const std::string& user, const std::string& password) {
    return with_line_breaks(form, user + "\n" + password);
}

std::string curl_user_option(const std::string& user, const std::string& password) {
    std::string out = "user = \"";
    for (char c : user + ":" + password) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"\n";
}

std::vector<int> curl_transfer_codes(const std::string& output, size_t limit) {
    const std::string_view marker(kCurlTransferFormat,
                                  std::string_view(kCurlTransferFormat).find('%'));
    std::vector<int> codes;
    size_t line = 0;
    while (line < output.size() && codes.size() < limit) {
        size_t end = output.find('\n', line);
        if (end == std::string::npos) end = output.size();
        std::string_view text(output.data() + line, end - line);
        if (text.ends_with('\r')) text.remove_suffix(1);
        const std::string_view code = text.substr(std::min(marker.size(), text.size()));
        // Exit codes are small numbers: anything else on such a line is not one of ours.
        if (text.starts_with(marker) && !code.empty() && code.size() <= 3 &&
            code.find_first_not_of("0123456789") == std::string_view::npos) {
            codes.push_back(std::atoi(std::string(code).c_str()));
        }
        line = end + 1;
    }
    return codes;
}

bool is_host_text(const std::string& address) {
    if (address.empty() || address[0] == '-') return false;
    for (unsigned char c : address) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool is_file_name_part(const std::string& user) {
    return user.find_first_of("/\\") == std::string::npos;
}

bool is_one_line(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

size_t download_command_length(const std::string& bin_dir, const std::string& user,
                               const std::string& password, const std::string& address,
                               const std::string& ftp_port, const std::string& file,
                               const std::string& server_dir) {
    // "cd  /d \"B\" && curl.exe --ftp-ssl -k ftp://U:P@A:F/N -o \"S\\N\""
    static const std::string kFixed =
        std::string("cd  /d \"\" && curl.exe --ftp-ssl -k ftp://:@:/ -o \"\\\"");
    return kFixed.size() + bin_dir.size() + user.size() + password.size() + address.size() +
           ftp_port.size() + 2 * file.size() + server_dir.size();
}

size_t host_key_command_length(const std::string& bin_dir, const std::string& ssh_port,
                               const std::string& user, const std::string& password,
                               const std::string& address) {
    // "cd /d \"B\" && echo y | plink.exe -ssh -P S -l U -pw P A"
    static const std::string kFixed =
        std::string("cd /d \"\" && echo y | plink.exe -ssh -P  -l  -pw  ");
    return kFixed.size() + bin_dir.size() + ssh_port.size() + user.size() + password.size() +
           address.size();
}

}  // namespace quietway
