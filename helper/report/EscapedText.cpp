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

// The code point of a well-formed sequence.
unsigned codePoint(std::string_view sequence) {
  constexpr unsigned kLeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
  unsigned point = static_cast<unsigned char>(sequence[0]) & kLeadBits[sequence.size() - 1];
  for (const char continuation : sequence.substr(1))
    point = (point << 6) | (static_cast<unsigned char>(continuation) & 0x3Fu);
  return point;
}

// C0, DEL and C1 alike (U+009B alone opens a terminal command), and the
// bidirectional marks, embeddings, overrides and isolates, which reorder
// what a person reads around them.
bool mustEscape(unsigned point) {
  return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x200E || point == 0x200F ||
         (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    length = utf8Length(text.substr(at));
    const unsigned point = length == 0 ? 0 : codePoint(text.substr(at, length));
    if (length == 0) {
      out += "\\ufffd";
      length = 1;
    } else if (point == '"' || point == '\\') {
      out += {'\\', static_cast<char>(point)};
    } else if (point == '\n') {
      out += "\\n";
    } else if (mustEscape(point)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", point);
      out += escape;
    } else {
      out += text.substr(at, length);
    }
  }
  return out + "\"";
}
