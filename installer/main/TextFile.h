#pragma once

#include <string>
#include <string_view>

#include "Platform.h"

// Reads the whole file; fails when it cannot be read or is not valid UTF-8.
FileError readTextFile(const std::string& path, std::string& text);

// Writes a temporary file beside `path` and renames it over `path`, so readers
// see the old file or the complete new one. After a failure the temporary file
// is gone and `path` is untouched.
FileError writeTextFileAtomically(const std::string& path, std::string_view text);

bool isValidUtf8(std::string_view text);
