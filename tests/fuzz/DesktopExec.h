#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reads back the Exec value of a filled desktop entry as its consumers do,
// strictly: anything the Desktop Entry rules leave undefined reads as none.

// Undoes the string-value escapes \s \n \t \r and \\.
inline std::optional<std::string> unescapeDesktopString(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
    } else if (++i == value.size() || std::string_view("sntr\\").find(value[i]) == std::string_view::npos) {
      return std::nullopt;
    } else {
      out += value[i] == 's' ? ' ' : value[i] == 'n' ? '\n' : value[i] == 't' ? '\t' : value[i] == 'r' ? '\r' : '\\';
    }
  }
  return out;
}

// The one argument of an unescaped Exec value that is a single double-quoted
// argument, as the agent template writes it. Inside the quotes `"`, `` ` ``,
// `$` and `\` take a backslash and "%%" is a literal %; a lone % would be a
// field code.
inline std::optional<std::string> quotedExecArgument(std::string_view value) {
  if (!value.starts_with('"')) return std::nullopt;
  std::string argument;
  for (std::size_t at = 1; at < value.size(); ++at) {
    const char c = value[at];
    if (c == '"') return at + 1 == value.size() ? std::optional(argument) : std::nullopt;
    if (c == '\\' && (++at == value.size() || std::string_view("\"`$\\").find(value[at]) == std::string_view::npos))
      return std::nullopt;
    if (c == '`' || c == '$' || (c == '%' && (++at == value.size() || value[at] != '%'))) return std::nullopt;
    argument += value[at];
  }
  return std::nullopt;
}
