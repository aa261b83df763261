// A .reg file imported into the store. Whatever an import stores and an export writes out
// whole must parse again without a bad line; the tree is emptied after every input.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "fuzz/fuzz_environment.h"
#include "tools/quietway_reg/commands.h"
#include "tools/quietway_reg/reg_file.h"
#include "tools/quietway_reg/reg_import.h"
#include "tools/quietway_reg/reg_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    const std::string file = fuzz::environment() + "/import.reg";
    if (size == 0) return 0;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
    }
    std::ostringstream ignored;
    const bool keep_existing = (data[0] & 1) != 0;
    reg_tool::import_reg_file(file, ignored, keep_existing);

    std::vector<std::string> top;
    list_reg_subkeys("", top);
    for (const std::string& key : top) {
        std::ostringstream exported, errors;
        if (reg_tool::export_reg_file(key, "-", exported, errors) == reg_tool::kExitOk) {
            std::string text, error;
            fuzz::require(reg_text::decode_file_bytes(exported.str(), text, error),
                          "an export decodes");
            std::vector<reg_file::Operation> operations;
            std::vector<reg_file::Problem> problems;
            fuzz::require(reg_file::parse(text, operations, problems) == 0,
                          "an export parses again without a bad line");
        }
        delete_reg_tree(key.c_str());
    }
    return 0;
}
