// The normal end of the process, alone in its object file: a test program
// that must outlive the run (a fuzz target) links its own ExitProcess in its
// place.
#include <cstdlib>

#include "runtime/platform/process.h"

namespace diskmaps {

void ExitProcess(int exit_code) { std::exit(exit_code); }

}  // namespace diskmaps
