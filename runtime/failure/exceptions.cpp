#include "runtime/failure/exceptions.h"

#include <algorithm>
#include <cstring>

// Start of the executable image, provided by the linker.
extern "C" const char __executable_start[];

namespace diskmaps {

Exception::Exception(std::string_view class_name, std::string_view message_text)
    : class_name_(class_name) {
  SetMessageText(message_text);
}

void Exception::SetMessageText(std::string_view text) {
  const std::size_t length = std::min(text.size(), kMaxMessageLength);
  std::memcpy(message_, text.data(), length);
  message_length_ = static_cast<std::uint16_t>(length);
}

std::uint32_t FailureLocationOf(const void* code_address) {
  const auto address = reinterpret_cast<std::uintptr_t>(code_address);
  const auto image = reinterpret_cast<std::uintptr_t>(__executable_start);
  return static_cast<std::uint32_t>(address - image);
}

}  // namespace diskmaps
