#include "runtime/channel/text_channel.h"

namespace diskmaps {

std::int32_t IoErrorCode = 0;
TextChannel ConsoleInput;
TextChannel ConsoleOutput;

void BindName(TextChannel& channel, std::string_view name) {
  const std::size_t end = name.find('\0');
  if (end != std::string_view::npos) name = name.substr(0, end);
  if (name.size() > TextChannel::kMaxNameLength) {
    name = name.substr(0, TextChannel::kMaxNameLength);
  }
  Platform* const platform = channel.platform;
  channel = TextChannel();
  channel.platform = platform;
  name.copy(channel.name, name.size());
  channel.name[name.size()] = '\0';
  channel.name_length = static_cast<std::uint16_t>(name.size());
}

}  // namespace diskmaps
