#include "tools/quietway_reg/reg_text.h"

namespace quietway::reg_text {

bool decode_file_bytes(const std::string& bytes, std::string& text, std::string& error) {
    if (bytes.starts_with("\xFF\xFE")) {
        if (bytes.size() % 2 != 0) {
            error = "UTF-16 file with an odd number of bytes";
            return false;
        }
        std::u16string wide;
        wide.reserve(bytes.size() / 2 - 1);
        for (size_t i = 2; i < bytes.size(); i += 2) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        if (!utf16_to_narrow(wide, text)) {
            error = "UTF-16 text that cannot be converted to the system's character set";
            return false;
        }
        return true;
    }
    text = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
    return true;
}

}  // namespace quietway::reg_text
