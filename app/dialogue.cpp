#include "app/dialogue.h"

#include <cstdint>
#include <string_view>

#include "runtime/channel/text_channel.h"
#include "runtime/failure/failure.h"
#include "runtime/number/extended.h"

namespace diskmaps {
namespace {

constexpr std::string_view kBanner[] = {
    "Programme pour generer des applications du disque unite.",
    "cree par Tressalin le 03/03/2001",
    "",
    " Entrer le type de symetrie :",
    "  0  : sans symetrie  ",
    "  1  : symetrie OxOy  ",
    "  2  : symetrie Z(n)  ",
    "  3  : symetrie D(n)  ",
    "  4  : sortir",
};
constexpr std::string_view kDegreePrompt = " Entrer le degre ( e.g. 8 ) :";
constexpr std::string_view kMapCountPrompt =
    " Entrer le nombre d'applications ( e.g. 15 ) :";
constexpr std::string_view kR0MinPrompt =
    " Entrer r0 min betwen 0 and 1 ( e.g.  0.1 ) : ";
constexpr std::string_view kR0MaxPrompt =
    " Entrer r0 max betwen 0 and 1 ( e.g.  0.9 ) : ";
constexpr std::string_view kFileNamePrompt = " Entrer le nom du fichier :";

constexpr std::uint8_t kLastSymmetryType = 3;

// One line of the dialogue is one statement: its text, the line end, the
// check. The blank line is the line end alone.
void WriteLine(std::string_view text) {
  if (!text.empty()) WriteText(ConsoleOutput, text);
  EndLine(ConsoleOutput);
  IoCheck();
}

// One answer is one statement: the value is read and narrowed to its field
// at once, the rest of the line is discarded, then the check runs.
std::int32_t ReadIntegerAnswer() {
  const std::int32_t value = ReadInteger(ConsoleInput);
  SkipLine(ConsoleInput);
  IoCheck();
  return value;
}

// The rounding to double happens as the value is stored, before the rest of
// the line is discarded: a value beyond the double range fails there.
double ReadRealAnswer() {
  const double value = ExtendedToDouble(ReadReal(ConsoleInput));
  SkipLine(ConsoleInput);
  IoCheck();
  return value;
}

void ReadLineAnswer(std::string& destination) {
  ReadLineText(ConsoleInput, destination);
  SkipLine(ConsoleInput);
  IoCheck();
}

}  // namespace

RunParameters RunDialogue() {
  RunParameters parameters;
  for (const std::string_view line : kBanner) WriteLine(line);

  parameters.SymmetryType = static_cast<std::uint8_t>(ReadIntegerAnswer());
  if (parameters.SymmetryType > kLastSymmetryType) EndRun(0);

  if (HasDegree(parameters.SymmetryType)) {
    WriteLine(kDegreePrompt);
    parameters.Degree = static_cast<std::uint16_t>(ReadIntegerAnswer());
  }
  WriteLine(kMapCountPrompt);
  parameters.MapCount = static_cast<std::uint16_t>(ReadIntegerAnswer());
  WriteLine(kR0MinPrompt);
  parameters.R0Min = ReadRealAnswer();
  WriteLine(kR0MaxPrompt);
  parameters.R0Max = ReadRealAnswer();
  WriteLine(kFileNamePrompt);
  ReadLineAnswer(parameters.FileBaseName);
  return parameters;
}

}  // namespace diskmaps
