#pragma once

#include <string>
#include <string_view>

// Any bytes as a JSON string, which a terminal also shows safely: quotes,
// backslashes, every control character (C0, DEL, C1) and every bidirectional
// control escaped, a byte that is no part of valid UTF-8 shown as U+FFFD.
std::string quoted(std::string_view text);
