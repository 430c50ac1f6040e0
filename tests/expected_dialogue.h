#pragma once

// The console text of the dialogue, as the tests expect it byte for byte.

#include <string_view>

namespace diskmaps::testing {

// Lines 1 to 9: the banner and the menu, written by every run.
inline constexpr std::string_view kExpectedMenu =
    "Programme pour generer des applications du disque unite.\r\n"
    "cree par Tressalin le 03/03/2001\r\n"
    "\r\n"
    " Entrer le type de symetrie :\r\n"
    "  0  : sans symetrie  \r\n"
    "  1  : symetrie OxOy  \r\n"
    "  2  : symetrie Z(n)  \r\n"
    "  3  : symetrie D(n)  \r\n"
    "  4  : sortir\r\n";
inline constexpr std::string_view kExpectedDegreePrompt =
    " Entrer le degre ( e.g. 8 ) :\r\n";
inline constexpr std::string_view kExpectedMapCountPrompt =
    " Entrer le nombre d'applications ( e.g. 15 ) :\r\n";
inline constexpr std::string_view kExpectedR0MinPrompt =
    " Entrer r0 min betwen 0 and 1 ( e.g.  0.1 ) : \r\n";
inline constexpr std::string_view kExpectedR0MaxPrompt =
    " Entrer r0 max betwen 0 and 1 ( e.g.  0.9 ) : \r\n";
inline constexpr std::string_view kExpectedFileNamePrompt =
    " Entrer le nom du fichier :\r\n";

// The bytes of the whole dialogue of a run that reaches the file name.
inline constexpr std::size_t ExpectedDialogueSize(bool with_degree) {
  return kExpectedMenu.size() +
         (with_degree ? kExpectedDegreePrompt.size() : 0) +
         kExpectedMapCountPrompt.size() + kExpectedR0MinPrompt.size() +
         kExpectedR0MaxPrompt.size() + kExpectedFileNamePrompt.size();
}

}  // namespace diskmaps::testing
