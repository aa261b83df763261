#include "common/pipe/pipe_path.h"

namespace quietway {

const char* pipe_path() { return "\\\\.\\pipe\\qwaypipe"; }

}  // namespace quietway
