#include "app/dialogue.h"
#include "app/parameter_file.h"
#include "runtime/failure/failure.h"

namespace {

// The main sequence, between the run's set-up and its normal end.
void RunMain() { diskmaps::WriteParameterFile(diskmaps::RunDialogue()); }

}  // namespace

int main() { diskmaps::RunProgram(&RunMain); }
