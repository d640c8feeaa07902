// Any absolute install path (every byte but NUL, UTF-8 or not; the input
// follows the leading "/" the installer always has) filled into the shipped
// agent templates. A filled property list must be well-formed XML that gives
// back the exact path; a filled desktop entry must keep its lines and give
// back the exact path from its Exec line and its plain string values.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "DesktopExec.h"
#include "FuzzCheck.h"
#include "TemplateFill.h"
#include "Utf8.h"
#include "XmlDocument.h"

namespace {

constexpr std::string_view kHelperInBundle = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";

// The token in a plain string value and in an Exec line beside another argument.
constexpr std::string_view kDesktopVariant =
    "[Desktop Entry]\nPath=__INSTALL_PATH__\nExec=\"__INSTALL_PATH__/bin/helper\" --quiet\n";

std::string shippedTemplate(const char* name) {
  std::ifstream in(std::string(PELAGRIN_INSTALLER_RESOURCES) + "/" + name, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  fuzzCheck(!text.empty(), "cannot read a shipped template");
  return text;
}

const XmlElement* valueAfterKey(const XmlElement& dict, std::string_view key) {
  for (std::size_t i = 0; i + 1 < dict.children.size(); ++i)
    if (dict.children[i].name == "key" && dict.children[i].text == key) return &dict.children[i + 1];
  return nullptr;
}

// A path XML can carry is filled, and only such a path.
void checkPropertyList(const std::string& path) {
  static const std::string plist = shippedTemplate("app.pelagrin.helper.plist");
  std::string filled;
  const FileError refused = fillInstallPath(plist, path, TemplateFormat::PropertyList, filled);
  fuzzCheck(refused.has_value() == !isXmlText(path), "property list refusal does not match what XML can carry");
  if (refused) return;
  const std::optional<XmlElement> root = parseXmlDocument(filled);
  fuzzCheck(root.has_value(), "filled property list is not well-formed XML");
  fuzzCheck(root->name == "plist" && root->children.size() == 1, "filled property list lost its shape");
  const XmlElement* arguments = valueAfterKey(root->children[0], "ProgramArguments");
  fuzzCheck(arguments && arguments->name == "array" && !arguments->children.empty(), "ProgramArguments lost");
  fuzzCheck(arguments->children[0].text == path + std::string(kHelperInBundle),
            "ProgramArguments does not read back as the install path");
}

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The value of `key` as its consumer reads it, string escapes undone.
std::optional<std::string> desktopValue(const std::vector<std::string_view>& lines, std::string_view key) {
  for (const std::string_view line : lines) {
    if (!line.starts_with(key) || line.substr(key.size()).find_first_not_of(' ') == std::string_view::npos) continue;
    std::string_view rest = line.substr(line.find_first_not_of(' ', key.size()));
    if (!rest.starts_with('=')) continue;
    rest.remove_prefix(1);
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    return unescapeDesktopString(rest);
  }
  return std::nullopt;
}

std::vector<std::string_view> filledLines(const std::string& entry, const std::string& path, std::string& filled) {
  fuzzCheck(!fillInstallPath(entry, path, TemplateFormat::DesktopEntry, filled), "a UTF-8 path was refused");
  fuzzCheck(isUtf8(filled), "filled desktop entry is not UTF-8 text");
  const std::vector<std::string_view> lines = linesOf(filled);
  fuzzCheck(lines.size() == linesOf(entry).size(), "the path added or removed desktop entry lines");
  return lines;
}

void checkExec(const std::vector<std::string_view>& lines, const std::vector<std::string>& expected) {
  const std::optional<std::string> exec = desktopValue(lines, "Exec");
  fuzzCheck(exec.has_value(), "Exec line does not unescape");
  const std::optional<std::vector<std::string>> arguments = execArguments(*exec);
  fuzzCheck(arguments.has_value(), "Exec line breaks the quoting rules");
  fuzzCheck(*arguments == expected, "Exec line does not give back the install path");
}

// Desktop entries are UTF-8 text, so a path that is not is refused.
void checkDesktopEntries(const std::string& path) {
  static const std::string entry = shippedTemplate("app.pelagrin.helper.desktop");
  std::string filled;
  if (!isUtf8(path)) {
    fuzzCheck(fillInstallPath(entry, path, TemplateFormat::DesktopEntry, filled).has_value(),
              "a path that is not UTF-8 went into a desktop entry");
    return;
  }
  checkExec(filledLines(entry, path, filled), {path + std::string(kHelperInBundle)});
  const std::vector<std::string_view> variant = filledLines(std::string(kDesktopVariant), path, filled);
  checkExec(variant, {path + "/bin/helper", "--quiet"});
  fuzzCheck(desktopValue(variant, "Path") == path, "a string value does not give back the install path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/" + std::string(reinterpret_cast<const char*>(data), size);
  if (path.find('\0') != std::string::npos) return 0;  // no path holds one
  checkPropertyList(path);
  checkDesktopEntries(path);
  return 0;
}
