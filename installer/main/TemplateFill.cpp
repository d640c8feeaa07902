#include "TemplateFill.h"

#include <string_view>

namespace {

std::string escapeXml(std::string_view value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// A desktop entry's string values are unescaped first, so a literal backslash
// and the control characters must be written as escapes.
std::string escapeDesktopString(std::string_view value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// Inside a double-quoted Exec argument `"`, `` ` ``, `$` and `\` take a
// backslash, and `%` would start a field code unless doubled. The string-value
// layer is undone before the quoting, so it is applied last.
std::string escapeDesktopExecArgument(std::string_view value) {
  std::string quoted;
  for (const char c : value) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  return escapeDesktopString(quoted);
}

std::string replaceAll(std::string_view text, std::string_view token, const std::string& replacement) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t found = text.find(token); found != std::string_view::npos; found = text.find(token, start)) {
    out.append(text.substr(start, found - start));
    out += replacement;
    start = found + token.size();
  }
  out.append(text.substr(start));
  return out;
}

bool isExecLine(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  std::string_view key = line.substr(0, equals);
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
  return key == "Exec";
}

std::string fillDesktopEntry(std::string_view text, const std::string& installDir) {
  const std::string asExecArgument = escapeDesktopExecArgument(installDir);
  const std::string asString = escapeDesktopString(installDir);
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    const std::string_view line = text.substr(start, end - start);
    out += replaceAll(line, kInstallPathToken, isExecLine(line) ? asExecArgument : asString);
    start = end;
  }
  return out;
}

}  // namespace

std::string fillInstallPath(const std::string& text, const std::string& installDir, TemplateFormat format) {
  if (format == TemplateFormat::PropertyList) return replaceAll(text, kInstallPathToken, escapeXml(installDir));
  return fillDesktopEntry(text, installDir);
}
