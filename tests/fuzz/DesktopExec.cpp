#include "DesktopExec.h"

namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

bool isReserved(char c) { return kReserved.find(c) != std::string_view::npos; }

// "%%" at `at` is a literal %; any other % would be a field code.
bool literalPercent(std::string_view value, std::size_t& at) {
  if (at + 1 >= value.size() || value[at + 1] != '%') return false;
  ++at;
  return true;
}

// From just after an opening quote to just after its closing one, which must
// end the argument.
std::optional<std::string> quotedArgument(std::string_view value, std::size_t& at) {
  std::string argument;
  for (; at < value.size(); ++at) {
    const char c = value[at];
    if (c == '"') {
      ++at;
      if (at < value.size() && value[at] != ' ') return std::nullopt;
      return argument;
    }
    if (c == '\\') {
      if (++at == value.size() || kEscapedInQuotes.find(value[at]) == std::string_view::npos) return std::nullopt;
    } else if (c == '`' || c == '$' || (c == '%' && !literalPercent(value, at))) {
      return std::nullopt;
    }
    argument += value[at];
  }
  return std::nullopt;
}

std::optional<std::string> plainArgument(std::string_view value, std::size_t& at) {
  std::string argument;
  for (; at < value.size() && value[at] != ' '; ++at) {
    const char c = value[at];
    if (isReserved(c) || (c == '%' && !literalPercent(value, at))) return std::nullopt;
    argument += value[at];
  }
  return argument;
}

}  // namespace

std::optional<std::string> unescapeDesktopString(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) return std::nullopt;
    switch (value[i]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: return std::nullopt;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> execArguments(std::string_view value) {
  std::vector<std::string> arguments;
  std::size_t at = 0;
  while (at < value.size()) {
    if (value[at] == ' ') {
      ++at;
      continue;
    }
    const bool quoted = value[at] == '"';
    if (quoted) ++at;
    std::optional<std::string> argument = quoted ? quotedArgument(value, at) : plainArgument(value, at);
    if (!argument) return std::nullopt;
    arguments.push_back(std::move(*argument));
  }
  return arguments;
}
