#include "CFText.h"

#include <cstring>

std::optional<std::string> utf8Text(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  const auto text = static_cast<CFStringRef>(value);
  const CFIndex maximum = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8);
  if (maximum == kCFNotFound) return std::nullopt;
  const CFIndex capacity = maximum + 1;  // room for the terminating NUL
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return std::nullopt;
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}
