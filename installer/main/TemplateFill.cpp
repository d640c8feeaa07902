#include "TemplateFill.h"

#include <algorithm>
#include <string_view>

#include "TextFile.h"

namespace {

// A parser reads a raw carriage return as a line feed, so it goes in as a
// character reference to survive.
std::string escapeXml(std::string_view value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
  return out;
}

// XML has no way at all, escaped or not, to carry the C0 controls other than
// tab, line feed and carriage return, nor U+FFFE and U+FFFF.
bool fitsInXml(std::string_view value) {
  const bool control = std::any_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
  });
  return !control && value.find("\xEF\xBF\xBE") == std::string_view::npos &&
         value.find("\xEF\xBF\xBF") == std::string_view::npos;
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

FileError fillInstallPath(const std::string& text, const std::string& installDir, TemplateFormat format,
                          std::string& filled) {
  // The agent file is UTF-8 text; a path in another encoding would be garbled in it.
  if (!isValidUtf8(installDir)) return "The install folder's path is not valid UTF-8 text.";
  if (format == TemplateFormat::DesktopEntry) {
    filled = fillDesktopEntry(text, installDir);
    return std::nullopt;
  }
  if (!fitsInXml(installDir)) return "The install folder's path holds a character that a property list cannot hold.";
  filled = replaceAll(text, kInstallPathToken, escapeXml(installDir));
  return std::nullopt;
}
