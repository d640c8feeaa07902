#pragma once

#include <string>

#include "Platform.h"

// The helper bundle's copy on macOS: copyfile(3) keeps the bundle's symlinks
// and extended attributes, which its code signature depends on; it keeps a
// download's quarantine mark too.
FileError copyBundle(const std::string& from, const std::string& to);

// Takes com.apple.quarantine off the folder at `path` and everything in it;
// off a link itself, never off what it points to.
FileError removeQuarantine(const std::string& path);
