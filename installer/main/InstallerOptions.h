#pragma once

#include <optional>

#include "HelperInstaller.h"

// What the command line asks of the installer: the launch prompt (no
// argument), an action without it, or the usage, asked for or not.
struct InstallerOptions {
  enum class Kind { Prompt, Act, Help, Misuse };
  Kind kind = Kind::Prompt;
  Action action = Action::Install;
};

InstallerOptions parseInstallerOptions(int argc, const char* const* argv);

// The options and exit statuses, the same on every system.
extern const char* const kInstallerUsage;
