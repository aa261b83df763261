#include "common/pipe/pipe_path.h"

#include <cstdlib>

namespace quietway {
namespace {

constexpr char kDefaultPath[] = "/run/quietway/qwaypipe";

}  // namespace

const char* pipe_path() {
    const char* custom = std::getenv("QUIETWAY_PIPE");
    return custom != nullptr && custom[0] != '\0' ? custom : kDefaultPath;
}

}  // namespace quietway
