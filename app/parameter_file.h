#pragma once

#include "app/run_parameters.h"

namespace diskmaps {

// The writing phase: seeds the random source, creates (or empties) the file
// named after FileBaseName with ".txt" appended, writes the header and one
// record of three reals per map, and closes the file. A failure ends the run
// with its report; the file then keeps the blocks already written.
void WriteParameterFile(const RunParameters& parameters);

}  // namespace diskmaps
