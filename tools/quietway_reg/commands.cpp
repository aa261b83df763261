#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "tools/quietway_reg/commands.h"
#include "tools/quietway_reg/reg_file.h"
#include "tools/quietway_reg/reg_import.h"

namespace quietway::reg_tool {

namespace {

using Args = std::vector<std::string>;

struct Context {
    const Args& args;
    std::ostream& out;
    std::ostream& err;
};

int fail(std::ostream& err, const std::string& message) {
    err << "quietway_reg: " << message << "\n";
    return kExitFailed;
}

int usage_error(std::ostream& err, const std::string& message) {
    err << "quietway_reg: " << message << "\n\n";
    print_usage(err);
    return kExitUsage;
}

bool parse_path(const Context& context, const std::string& text, std::string& path) {
    std::string error;
    if (reg_file::key_path(text, path, &error)) return true;
    context.err << "quietway_reg: " << error << ": " << text << "\n";
    return false;
}

// Decimal or 0x hexadecimal, at most 32 bits, nothing else.
bool parse_number(const std::string& text, uint32_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10) return false;
    uint64_t number = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    }
    if (number > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

std::string dword_data(uint32_t value) {
    std::string data(4, '\0');
    for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

int print_value(const Context& context, const StoreValue& value) {
    if (value.type == kValueTypeString) {
        context.out << value.data.c_str() << "\n";
    } else if (value.type == kValueTypeDword && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        context.out << number << "\n";
    } else {
        return fail(context.err, "value has a type this tool does not show");
    }
    return kExitOk;
}

int query(const Context& context) {
    const Args& args = context.args;
    if (args.size() != 2 && args.size() != 3) return usage_error(context.err, "query PATH [NAME]");
    std::string path;
    if (!parse_path(context, args[1], path)) return kExitFailed;
    if (args.size() == 3) {
        StoreValue value;
        if (!read_reg_value(path.c_str(), args[2].c_str(), value))
            return fail(context.err, "no value \"" + args[2] + "\" in " + args[1]);
        return print_value(context, value);
    }
    std::vector<StoreValue> values;
    if (!list_reg_values(path.c_str(), values)) return fail(context.err, "no key " + args[1]);
    for (const StoreValue& value : values) {
        std::string line;
        if (reg_file::format_value(value, line))
            context.out << line << "\n";
        else
            context.err << "quietway_reg: value \"" << value.name << "\" cannot be shown\n";
    }
    return kExitOk;
}

int set(const Context& context) {
    const Args& args = context.args;
    if (args.size() != 5 || (args[3] != "--string" && args[3] != "--dword"))
        return usage_error(context.err, "set PATH NAME --string TEXT | --dword N");
    std::string path;
    if (!parse_path(context, args[1], path)) return kExitFailed;
    if (path.empty()) return fail(context.err, "values cannot be set in HKEY_LOCAL_MACHINE itself");
    if (!value_name_fits(args[2]))
        return fail(context.err,
                    std::string("value name too long for the store (") + name_limits_text() + ")");
    StoreValue value{args[2], kValueTypeString, args[4]};
    if (args[3] == "--dword") {
        uint32_t number = 0;
        if (!parse_number(args[4], number))
            return fail(context.err, "not a 32-bit number (decimal or 0x hexadecimal): " + args[4]);
        value = {args[2], kValueTypeDword, dword_data(number)};
    } else if (value.data.size() > kMaxStringValue) {
        return fail(context.err, "text longer than " + std::to_string(kMaxStringValue) +
                                     " bytes, which the programs cannot read");
    }
    if (!install_reg_value(path.c_str(), value))
        return fail(context.err, "cannot write \"" + args[2] + "\" in " + args[1]);
    return kExitOk;
}

int remove(const Context& context) {
    const Args& args = context.args;
    if (args.size() != 2 && args.size() != 3) return usage_error(context.err, "delete PATH [NAME]");
    std::string path;
    if (!parse_path(context, args[1], path)) return kExitFailed;
    if (args.size() == 3) {
        if (!delete_reg_value(path.c_str(), args[2].c_str()))
            return fail(context.err, "cannot delete value \"" + args[2] + "\" in " + args[1]);
        return kExitOk;
    }
    if (path.empty()) return fail(context.err, "HKEY_LOCAL_MACHINE itself cannot be deleted");
    if (!delete_reg_tree(path.c_str())) return fail(context.err, "cannot delete key " + args[1]);
    return kExitOk;
}

int list(const Context& context) {
    const Args& args = context.args;
    if (args.size() != 2) return usage_error(context.err, "list PATH");
    std::string path;
    if (!parse_path(context, args[1], path)) return kExitFailed;
    std::vector<std::string> names;
    if (!list_reg_subkeys(path.c_str(), names)) return fail(context.err, "no key " + args[1]);
    for (const std::string& name : names) context.out << name << "\n";
    return kExitOk;
}

int import(const Context& context) {
    const Args& args = context.args;
    const bool keep_existing = args.size() == 3 && args[1] == "--missing";
    if (args.size() != 2 && !keep_existing)
        return usage_error(context.err, "import [--missing] FILE");
    return import_reg_file(args.back(), context.err, keep_existing);
}

int export_tree(const Context& context) {
    const Args& args = context.args;
    if (args.size() != 3) return usage_error(context.err, "export PATH FILE");
    std::string path;
    if (!parse_path(context, args[1], path)) return kExitFailed;
    return export_reg_file(path, args[2], context.out, context.err);
}

const std::map<std::string, std::function<int(const Context&)>>& command_table() {
    static const std::map<std::string, std::function<int(const Context&)>> table{
        {"query", query}, {"set", set},       {"delete", remove},
        {"list", list},   {"import", import}, {"export", export_tree},
    };
    return table;
}

}  // namespace

void print_usage(std::ostream& stream) {
    stream
        << "usage: quietway_reg COMMAND ARGUMENTS\n"
           "Reads and changes the settings tree below HKEY_LOCAL_MACHINE.\n"
           "\n"
           "  query PATH [NAME]             print one value, or every value of the key\n"
           "  set PATH NAME --string TEXT   write a text (the key is created when missing)\n"
           "  set PATH NAME --dword N       write a number (decimal or 0x hexadecimal)\n"
           "  delete PATH NAME              delete one value\n"
           "  delete PATH                   delete a key with everything below it\n"
           "  list PATH                     print the names of the key's subkeys\n"
           "  import FILE                   apply a .reg file; nothing is applied when a\n"
           "                                line is bad\n"
           "  import --missing FILE         the same, but values already in the store are\n"
           "                                kept (upgrades)\n"
           "  export PATH FILE              write the key and everything below it as a .reg\n"
           "                                file (FILE - is the standard output)\n"
           "\n"
           "PATH is a key below HKEY_LOCAL_MACHINE, such as SOFTWARE\\Quietway2\\app; NAME \"\"\n"
           "is the key's default value. Keys made here are writable by the administrator\n"
           "only, except the notification keys, which every user may change. On Linux the\n"
           "tree is /var/lib/quietway/registry, or $QUIETWAY_REGISTRY.\n"
           "Exit status: 0 done, 1 failed, 2 wrong arguments.\n";
}

int run(const Args& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return usage_error(err, "no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        print_usage(out);
        return kExitOk;
    }
    const auto command = command_table().find(args[0]);
    if (command == command_table().end()) return usage_error(err, "unknown command: " + args[0]);
    return command->second(Context{args, out, err});
}

}  // namespace quietway::reg_tool
