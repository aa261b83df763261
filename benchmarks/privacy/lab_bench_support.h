// What the lab benchmarks share: reading lab.env, entering the lab's client namespace with a
// private work directory, and seeding a store with the lab's settings.
#pragma once

#include <filesystem>
#include <string>

namespace quietway::lab_bench {

// The variable's value, or "" when it is not set.
std::string env(const char* name);

// Moves into the lab's client namespace, so that the programs started reach the lab, and makes
// `work` (named `prefix`-pid in the temporary directory) the home and log directory. Returns
// 0, or the exit status after saying on stderr what is missing.
int enter_lab(const char* prefix, std::filesystem::path& work);

// Points the store at a fresh registry below `dir` and writes `app_dir` as the program
// directory, a data directory below `dir`, the lab's ports and an empty account, with no
// server activated.
bool seed_settings(const std::filesystem::path& dir, const std::string& app_dir);

}  // namespace quietway::lab_bench
