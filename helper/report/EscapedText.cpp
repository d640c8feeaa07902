#include "EscapedText.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence that starts `text`, or 0.
std::size_t utf8Length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
  const auto second = length > 1 ? static_cast<unsigned char>(text[1]) : 0x80;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return 0;
  return length;
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    length = utf8Length(text.substr(at));
    const auto c = static_cast<unsigned char>(text[at]);
    if (length == 0) {
      out += "\\ufffd";
      length = 1;
    } else if (c == '"' || c == '\\') {
      out += {'\\', static_cast<char>(c)};
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += text.substr(at, length);
    }
  }
  return out + "\"";
}
