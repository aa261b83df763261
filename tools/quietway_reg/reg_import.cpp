#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "tools/quietway_reg/commands.h"
#include "tools/quietway_reg/reg_file.h"
#include "tools/quietway_reg/reg_import.h"
#include "tools/quietway_reg/reg_text.h"

namespace quietway::reg_tool {

namespace {

using reg_file::Operation;

bool read_bounded_file(const std::string& file, std::string& bytes) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    // Grows with the file, up to one byte past the limit, rather than taking the limit's
    // 16 MiB for every small settings file.
    std::string data;
    char block[64 * 1024];
    while (data.size() <= kMaxImportFile && in) {
        in.read(block, static_cast<std::streamsize>(
                           std::min(sizeof block, kMaxImportFile + 1 - data.size())));
        data.append(block, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) return false;
    bytes = std::move(data);
    return true;
}

bool apply(const Operation& operation, bool keep_existing) {
    const char* path = operation.path.c_str();
    switch (operation.kind) {
        case Operation::Kind::make_key:
            return install_reg_key(path);
        case Operation::Kind::set_value: {
            StoreValue present;
            if (keep_existing && read_reg_value(path, operation.value.name.c_str(), present))
                return true;
            return install_reg_value(path, operation.value);
        }
        // Deleting what is not there leaves the wanted state: not an error.
        case Operation::Kind::delete_key:
            return !reg_key_exists(path) || delete_reg_tree(path);
        case Operation::Kind::delete_value: {
            StoreValue ignored;
            return !read_reg_value(path, operation.value.name.c_str(), ignored) ||
                   delete_reg_value(path, operation.value.name.c_str());
        }
    }
    return false;
}

std::string describe(const Operation& operation) {
    switch (operation.kind) {
        case Operation::Kind::make_key:
            return "cannot create key " + operation.path;
        case Operation::Kind::delete_key:
            return "cannot delete key " + operation.path;
        case Operation::Kind::set_value:
            return "cannot write value \"" + operation.value.name + "\" in " + operation.path;
        case Operation::Kind::delete_value:
            return "cannot delete value \"" + operation.value.name + "\" in " + operation.path;
    }
    return "cannot apply the line";
}

// Appends the section of `path` and those of its subkeys; false when something was left out.
// `depth` is the key's own depth: the store creates nothing deeper than its limit, so whatever
// it made can be written out.
bool export_key(const std::string& path, size_t depth, std::string& text, std::ostream& err) {
    std::vector<StoreValue> values;
    std::vector<std::string> subkeys;
    if (depth > kMaxKeyDepth || !list_reg_values(path.c_str(), values) ||
        !list_reg_subkeys(path.c_str(), subkeys)) {
        err << "quietway_reg: cannot read key " << path << "\n";
        return false;
    }
    bool complete = true;
    text += reg_file::format_section(path) + "\r\n";
    for (const StoreValue& value : values) {
        std::string line;
        if (reg_file::format_value(value, line)) {
            text += line + "\r\n";
        } else {
            err << "quietway_reg: left out value \"" << value.name << "\" of " << path
                << ": its type or text cannot be written to a .reg file\n";
            complete = false;
        }
    }
    text += "\r\n";
    for (const std::string& subkey : subkeys) {
        const std::string child = path.empty() ? subkey : path + "\\" + subkey;
        complete = export_key(child, depth + 1, text, err) && complete;
    }
    return complete;
}

}  // namespace

int import_reg_file(const std::string& file, std::ostream& err, bool keep_existing) {
    std::string bytes;
    if (!read_bounded_file(file, bytes)) {
        err << "quietway_reg: cannot read " << file << "\n";
        return kExitFailed;
    }
    if (bytes.size() > kMaxImportFile) {
        err << "quietway_reg: " << file << " is larger than " << kMaxImportFile / (1024 * 1024)
            << " MiB, more than any settings file needs; nothing imported\n";
        return kExitFailed;
    }
    std::string text, error;
    if (!reg_text::decode_file_bytes(bytes, text, error)) {
        err << "quietway_reg: " << file << ": " << error << "\n";
        return kExitFailed;
    }
    std::vector<Operation> operations;
    std::vector<reg_file::Problem> problems;
    const size_t problem_count = reg_file::parse(text, operations, problems);
    for (const reg_file::Problem& problem : problems)
        err << file << ":" << problem.line << ": " << problem.message << "\n";
    if (problem_count > problems.size())
        err << "quietway_reg: " << problem_count - problems.size() << " more bad lines not shown\n";
    if (problem_count != 0) {
        err << "quietway_reg: nothing imported from " << file << "\n";
        return kExitFailed;
    }
    for (const Operation& operation : operations) {
        if (!apply(operation, keep_existing)) {
            err << file << ":" << operation.line << ": " << describe(operation) << "\n"
                << "quietway_reg: import stopped; the lines before it were applied\n";
            return kExitFailed;
        }
    }
    return kExitOk;
}

int export_reg_file(const std::string& path, const std::string& file, std::ostream& out,
                    std::ostream& err) {
    if (!reg_key_exists(path.c_str())) {
        err << "quietway_reg: no key " << path << "\n";
        return kExitFailed;
    }
    std::string text = std::string(reg_file::kHeader5) + "\r\n\r\n";
    const bool complete = export_key(path, key_path_depth(path), text, err);
    if (file == "-") {
        out << text;
    } else {
        std::ofstream stream(file, std::ios::binary | std::ios::trunc);
        if (!(stream << text) || !stream.flush()) {
            err << "quietway_reg: cannot write " << file << "\n";
            return kExitFailed;
        }
    }
    return complete ? kExitOk : kExitFailed;
}

}  // namespace quietway::reg_tool
