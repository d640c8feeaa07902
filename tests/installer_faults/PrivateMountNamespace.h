#pragma once

#include <functional>
#include <optional>
#include <string>

// Runs `work` in a forked child that has a mount namespace of its own, with
// every mount private to it: what `work` mounts vanishes with the child and no
// other process sees it. Returns what `work` returned, or nothing where this
// machine does not allow such a namespace (not root, or no CLONE_NEWNS).
// Throws when the child does not end normally.
std::optional<std::string> inPrivateMountNamespace(const std::function<std::string()>& work);
