#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads a desktop entry's values back as its consumers do, strictly: anything
// the Desktop Entry rules leave undefined reads as none.

// Undoes the string-value escapes \s \n \t \r and \\.
std::optional<std::string> unescapeDesktopString(std::string_view value);

// Splits an unescaped Exec value into its arguments: separated by spaces,
// reserved characters only inside double quotes, where `"`, `` ` ``, `$` and
// `\` take a backslash; "%%" is a literal %, and field codes are not expected.
std::optional<std::vector<std::string>> execArguments(std::string_view value);
