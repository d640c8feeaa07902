#pragma once

#include <optional>
#include <string_view>

// Decodes the UTF-8 sequence at `at` and moves past it; none for a malformed
// one: a stray or missing continuation byte, an overlong form, a surrogate,
// or a code point past U+10FFFF.
inline std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return std::nullopt;
  char32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (next & 0x3Fu);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  at += length;
  return code;
}

inline bool isUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();)
    if (!decodeUtf8(text, at)) return false;
  return true;
}
