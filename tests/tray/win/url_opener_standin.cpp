// Stands in for the desktop's URL opener: appends its one argument, as it arrived, to the
// file that QUIETWAY_OPENED_FILE names.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* file = std::getenv("QUIETWAY_OPENED_FILE");
    if (file == nullptr || argc != 2) return 2;
    std::FILE* out = std::fopen(file, "ab");
    if (out == nullptr) return 3;
    std::fprintf(out, "%s\n", argv[1]);
    std::fclose(out);
    return 0;
}
