#pragma once

#include <spawn.h>

#include <string>
#include <vector>

#include "Platform.h"

// Runs `executable` (the path as given, no shell, no PATH search) with each
// argument passed as one argument. Its output and error text are discarded;
// stdin (or /dev/null where it is closed), the environment and the working
// folder are inherited, and no other descriptor where the platform can close
// them at the spawn. Waits for it without a time limit and returns its exit
// status, or the number of the signal that ended it; kCannotStartStatus
// where it could not be started.
int runShell(const std::string& executable, const std::vector<std::string>& arguments);

// As runShell, with the child's standard output read into `output` (up to
// kReadOutputBytes of it; the rest is read and dropped).
int runShellReading(const std::string& executable, const std::vector<std::string>& arguments, std::string& output);

// Starts `executable` with these descriptors and settings, and waits for it
// as runShell does: the one start-and-wait that every child of the installer goes through.
int spawnAndWait(const std::string& executable, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes);
