#pragma once

#include <string>

// Turns the bytes of a .reg file into narrow text: UTF-16LE with a byte-order mark is
// converted (to the system code page on Windows, UTF-8 elsewhere), 8-bit text is taken as it
// is (a UTF-8 byte-order mark is dropped).
namespace quietway::reg_text {

// False with `error` set when the bytes cannot be converted.
bool decode_file_bytes(const std::string& bytes, std::string& text, std::string& error);

// The platform half: UTF-16LE code units (without the byte-order mark) to narrow text.
bool utf16_to_narrow(const std::u16string& wide, std::string& narrow);

}  // namespace quietway::reg_text
