#pragma once

#include <string>

#include "PosixPlatform.h"

// The helper bundle's copy on macOS: copyfile(3) keeps the bundle's symlinks
// and extended attributes, which its code signature depends on; it keeps a
// download's quarantine mark too.
FileError copyBundle(const std::string& from, const std::string& to);

// Takes com.apple.quarantine off the folder at `path` and everything in it;
// off a link itself, never off what it points to.
FileError removeQuarantine(const std::string& path);

// The Mac front's files: POSIX's, with the bundle's copy and its download mark
// as above. The AppKit front adds only its dialogs, resources and home folder.
class MacFilePlatform : public PosixPlatform {
 public:
  AgentSystem agentSystem() const override { return AgentSystem::Launchd; }
  FileError copyItem(const std::string& from, const std::string& to) override { return copyBundle(from, to); }
  FileError removeDownloadMark(const std::string& path) override { return removeQuarantine(path); }
};
