#include "app/parameter_file.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "app/map_generation.h"
#include "runtime/channel/text_channel.h"
#include "runtime/failure/failure.h"
#include "runtime/number/decimal.h"
#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

constexpr std::string_view kFileExtension = ".txt";

void WriteIntegerLine(TextChannel& file, std::int32_t value) {
  WriteInteger(file, value);
  EndLine(file);
  IoCheck();
}

void WriteRealLine(TextChannel& file, Extended value) {
  char text[kRealTextLength];
  WriteText(file, {text, FormatRealDefault(value, text)});
  EndLine(file);
  IoCheck();
}

}  // namespace

void WriteParameterFile(const RunParameters& parameters) {
  SeedFromClock();

  std::string name = parameters.FileBaseName;
  name += kFileExtension;
  TextChannel file;
  BindName(file, name);
  OpenForWriting(file);
  IoCheck();

  WriteIntegerLine(file, parameters.SymmetryType);
  if (HasDegree(parameters.SymmetryType)) {
    WriteIntegerLine(file, parameters.Degree);
  } else {
    WriteCharacter(file, '0');
    EndLine(file);
    IoCheck();
  }
  WriteIntegerLine(file, parameters.MapCount);

  for (std::uint16_t remaining = parameters.MapCount; remaining != 0;
       --remaining) {
    const MapRecord record = DrawMapRecord(parameters.R0Min, parameters.R0Max);
    WriteRealLine(file, ExtendedFromDouble(record.x));
    WriteRealLine(file, record.y);
    WriteRealLine(file, record.r0);
  }

  CloseChannel(file);
  IoCheck();
}

}  // namespace diskmaps
