#include <cstdio>
#include <string_view>

#include "common/store/store.h"
#include "common/store/store_limits.h"
#include "tools/quietway_reg/reg_file.h"

namespace quietway::reg_file {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool starts_with_text(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && same_store_name(text.substr(0, prefix.size()), prefix);
}

// Calls `visit` for each line (LF or CR LF) without its line end.
template <typename Visit>
void for_each_line(const std::string& text, Visit visit) {
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
}

std::string name_limit_message(const char* what) {
    return std::string(what) + " too long for the store (" + name_limits_text() + ")";
}

// Reads a quoted text starting at `text[0] == '"'` with the escapes \\ and \"; `used`
// receives the characters consumed, closing quote included.
bool parse_quoted(std::string_view text, std::string& out, size_t& used, std::string& error) {
    out.clear();
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            used = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
                error = "unknown escape in quoted text (only \\\\ and \\\" are allowed)";
                return false;
            }
            out += text[++i];
            continue;
        }
        out += c;
    }
    error = "quoted text without its closing quote";
    return false;
}

bool parse_dword(std::string_view digits, std::string& data, std::string& error) {
    digits = trim(digits);
    if (digits.empty() || digits.size() > 8) {
        error = "dword: needs 1 to 8 hexadecimal digits";
        return false;
    }
    uint32_t value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) {
            error = "dword: needs 1 to 8 hexadecimal digits";
            return false;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF),
                           static_cast<char>((value >> 24) & 0xFF)};
    data.assign(bytes, 4);
    return true;
}

// The right-hand side of a value line.
bool parse_data(std::string_view text, Operation& operation, std::string& error) {
    text = trim(text);
    if (text == "-") {
        operation.kind = Operation::Kind::delete_value;
        return true;
    }
    operation.kind = Operation::Kind::set_value;
    if (!text.empty() && text.front() == '"') {
        size_t used = 0;
        if (!parse_quoted(text, operation.value.data, used, error)) return false;
        if (!trim(text.substr(used)).empty()) {
            error = "unexpected text after the closing quote";
            return false;
        }
        if (operation.value.data.size() > kMaxStringValue) {
            error = "text longer than " + std::to_string(kMaxStringValue) +
                    " bytes, which the programs cannot read";
            return false;
        }
        operation.value.type = kValueTypeString;
        return true;
    }
    if (starts_with_text(text, "dword:")) {
        operation.value.type = kValueTypeDword;
        return parse_dword(text.substr(6), operation.value.data, error);
    }
    if (starts_with_text(text, "hex")) {
        error = "unsupported value type (only \"text\" and dword: values are supported)";
        return false;
    }
    error = "malformed value (expected \"text\", dword:XXXXXXXX or -)";
    return false;
}

bool parse_value_line(std::string_view line, Operation& operation, std::string& error) {
    size_t used = 0;
    if (line.front() == '@') {
        operation.value.name.clear();
        used = 1;
    } else if (!parse_quoted(line, operation.value.name, used, error)) {
        return false;
    }
    if (!value_name_fits(operation.value.name)) {
        error = name_limit_message("value name");
        return false;
    }
    const std::string_view rest = trim(line.substr(used));
    if (rest.empty() || rest.front() != '=') {
        error = "'=' expected after the value name";
        return false;
    }
    return parse_data(rest.substr(1), operation, error);
}

bool parse_section(std::string_view line, Operation& operation, std::string& error) {
    if (line.back() != ']') {
        error = "section without its closing ']'";
        return false;
    }
    std::string_view inside = line.substr(1, line.size() - 2);
    operation.kind = Operation::Kind::make_key;
    if (!inside.empty() && inside.front() == '-') {
        operation.kind = Operation::Kind::delete_key;
        inside.remove_prefix(1);
    }
    if (!starts_with_text(inside, std::string(kRootName) + "\\")) {
        error = "only keys below HKEY_LOCAL_MACHINE can be imported";
        return false;
    }
    if (!key_path(std::string(inside), operation.path, &error)) return false;
    if (operation.path.empty()) {
        error = "malformed key path";
        return false;
    }
    return true;
}

class Parser {
public:
    Parser(std::vector<Operation>& operations, std::vector<Problem>& problems)
        : operations_(operations), problems_(problems) {}

    void line(int number, std::string_view text) {
        text = trim(text);
        if (!seen_header_) return header(number, text);
        if (text.empty() || text.front() == ';') return;
        Operation operation;
        operation.line = number;
        std::string error;
        if (text.front() == '[') {
            const bool ok = parse_section(text, operation, error);
            // Values after a bad or deleted section have no key to go to.
            section_.clear();
            if (ok && operation.kind == Operation::Kind::make_key) section_ = operation.path;
            return ok ? add(std::move(operation)) : problem(number, error);
        }
        if (text.front() != '"' && text.front() != '@') return problem(number, "unrecognised line");
        if (section_.empty()) return problem(number, "value outside a key section");
        operation.path = section_;
        return parse_value_line(text, operation, error) ? add(std::move(operation))
                                                        : problem(number, error);
    }

    void finish() {
        if (!seen_header_) problem(1, header_message());
    }

    void nul_byte(int number) {
        problem(number, "NUL byte in the text (UTF-16 without a byte-order mark?)");
    }

    size_t problem_count() const { return problem_count_; }

private:
    static std::string header_message() {
        return std::string("missing header (\"") + kHeader5 + "\" or \"" + kHeader4 + "\")";
    }

    void header(int number, std::string_view text) {
        if (text.empty()) return;
        seen_header_ = true;
        if (text != kHeader5 && text != kHeader4) problem(number, header_message());
    }

    // Nothing is applied once a line is bad, so operations are no longer kept then, and only
    // the first screenful of problems is: a file of bad lines must not fill the memory.
    void add(Operation operation) {
        if (problem_count_ == 0) operations_.push_back(std::move(operation));
    }
    void problem(int number, std::string message) {
        if (++problem_count_ > kMaxListedProblems) return;
        operations_.clear();
        problems_.push_back({number, std::move(message)});
    }

    std::vector<Operation>& operations_;
    std::vector<Problem>& problems_;
    std::string section_;
    bool seen_header_ = false;
    size_t problem_count_ = 0;
};

// A path that starts with another root is a mistake, not a key of that name.
bool is_other_root(std::string_view first) {
    return starts_with_text(first, "HKEY_") || same_store_name(first, "HKCU") ||
           same_store_name(first, "HKCR") || same_store_name(first, "HKU") ||
           same_store_name(first, "HKCC");
}

bool has_line_break(std::string_view text) {
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

size_t parse(const std::string& text, std::vector<Operation>& operations,
             std::vector<Problem>& problems) {
    Parser parser(operations, problems);
    int number = 0;
    for_each_line(text, [&](std::string_view line) {
        ++number;
        if (line.find('\0') != std::string_view::npos)
            parser.nul_byte(number);
        else
            parser.line(number, line);
    });
    parser.finish();
    return parser.problem_count();
}

bool key_path(const std::string& text, std::string& path, std::string* error) {
    std::string ignored;
    std::string& reason = error != nullptr ? *error : ignored;
    std::string_view rest(text);
    for (const std::string_view root : {std::string_view(kRootName), std::string_view("HKLM")}) {
        if (same_store_name(rest, root)) {
            path.clear();
            return true;
        }
        if (starts_with_text(rest, std::string(root) + "\\")) {
            rest.remove_prefix(root.size() + 1);
            break;
        }
    }
    if (is_other_root(rest.substr(0, rest.find('\\')))) {
        reason = "only keys below HKEY_LOCAL_MACHINE can be used";
        return false;
    }
    for (size_t start = 0; !rest.empty();) {
        const size_t end = rest.find('\\', start);
        const std::string_view name = rest.substr(start, end - start);
        if (name.empty()) {
            reason = "empty key name in the path";
            return false;
        }
        if (!key_name_fits(name)) {
            reason = name_limit_message("key name");
            return false;
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (key_path_depth(rest) > kMaxKeyDepth) {
        reason = "key path deeper than " + std::to_string(kMaxKeyDepth) + " keys";
        return false;
    }
    if (rest.size() > max_key_path_length()) {
        reason = "key path longer than " + std::to_string(max_key_path_length()) + " bytes";
        return false;
    }
    path = std::string(rest);
    return true;
}

bool format_value(const StoreValue& value, std::string& line) {
    if (has_line_break(value.name)) return false;
    const std::string name = value.name.empty() ? "@" : quoted(value.name);
    if (value.type == kValueTypeDword && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", number);
        line = name + "=dword:" + digits;
        return true;
    }
    if (value.type != kValueTypeString) return false;
    const std::string text(value.data.c_str());  // the text ends at its terminator
    if (has_line_break(text)) return false;
    line = name + "=" + quoted(text);
    return true;
}

std::string format_section(const std::string& path) {
    return "[" + std::string(kRootName) + (path.empty() ? "" : "\\" + path) + "]";
}

}  // namespace quietway::reg_file
