#pragma once

#include <cstdint>
#include <string>

namespace diskmaps {

// The answers of the dialogue, kept with their exact widths.
struct RunParameters {
  std::uint8_t SymmetryType = 0;
  std::uint16_t Degree = 0;  // asked and set for types 2 and 3 only
  std::uint16_t MapCount = 0;
  double R0Min = 0.0;
  double R0Max = 0.0;
  std::string FileBaseName;  // the rest of the line, exactly as typed
};

// Types 2 (cyclic, Z(n)) and 3 (dihedral, D(n)) have a degree n.
inline bool HasDegree(std::uint8_t symmetry_type) { return symmetry_type >= 2; }

}  // namespace diskmaps
