// Stands in for the desktop's URL opener: appends its one argument as a line to the file that
// QUIETWAY_TEST_URL_LOG names.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* log = std::getenv("QUIETWAY_TEST_URL_LOG");
    if (argc != 2 || log == nullptr) return 2;
    std::FILE* file = std::fopen(log, "a");
    if (file == nullptr) return 1;
    std::fprintf(file, "%s\n", argv[1]);
    return std::fclose(file) == 0 ? 0 : 1;
}
