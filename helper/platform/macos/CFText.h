#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>

// The UTF-8 text of `value` when it is a CFString; none for any other kind of
// value, for null, or for a string that cannot be encoded. The value is
// borrowed: ownership stays with the caller.
std::optional<std::string> utf8Text(CFTypeRef value);
