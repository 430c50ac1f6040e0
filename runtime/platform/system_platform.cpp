#include "runtime/platform/platform.h"

namespace diskmaps {
// Placeholder until the POSIX layer lands.
}  // namespace diskmaps
