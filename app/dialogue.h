#pragma once

#include "app/run_parameters.h"

namespace diskmaps {

// Writes the banner and the menu, asks each question and reads each answer
// from the console. Ends the run normally (exit code 0) when the symmetry type
// chosen is above 3; otherwise returns the answers.
RunParameters RunDialogue();

}  // namespace diskmaps
