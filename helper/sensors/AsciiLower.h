#pragma once

#include <string>
#include <string_view>

// Folds A-Z to a-z and leaves every other byte alone, whatever the locale.
// For the markers the sensor rules seek this matches full Unicode lower-casing:
// the only other characters that lower-case to ASCII are the Kelvin sign (to
// "k", in no marker) and dotted capital I (to "i" plus a combining dot, which
// cannot match, as every "i" in the markers is followed by a letter).
inline void asciiLowerInto(std::string_view text, std::string& out) {
  out.assign(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}
