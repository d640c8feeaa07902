// Any absolute install path (every byte but NUL, UTF-8 or not; the input
// follows the leading "/" the installer always has) filled into the shipped
// agent templates. A filled property list must be well-formed XML that gives
// back the exact path; a filled desktop entry must keep its lines and give
// back the exact path from its Exec line.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "DesktopExec.h"
#include "FuzzSupport.h"
#include "TemplateFill.h"
#include "Utf8.h"
#include "XmlDocument.h"

namespace {

constexpr std::string_view kHelperInBundle = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";

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

// Desktop entries are UTF-8 text, so a path that is not is refused.
void checkDesktopEntry(const std::string& path) {
  static const std::string entry = shippedTemplate("app.pelagrin.helper.desktop");
  std::string filled;
  const FileError refused = fillInstallPath(entry, path, TemplateFormat::DesktopEntry, filled);
  fuzzCheck(refused.has_value() == !isUtf8(path), "desktop entry refusal does not match UTF-8 validity");
  if (refused) return;
  fuzzCheck(std::count(filled.begin(), filled.end(), '\n') == std::count(entry.begin(), entry.end(), '\n'),
            "the path added or removed desktop entry lines");
  const std::size_t exec = filled.find("\nExec=");
  fuzzCheck(exec != std::string::npos, "Exec line lost");
  const std::size_t start = exec + 6;
  const std::optional<std::string> value = unescapeDesktopString(filled.substr(start, filled.find('\n', start) - start));
  fuzzCheck(value.has_value(), "Exec line does not unescape");
  fuzzCheck(quotedExecArgument(*value) == path + std::string(kHelperInBundle),
            "Exec line does not give back the install path as its one argument");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/" + std::string(reinterpret_cast<const char*>(data), size);
  if (path.find('\0') != std::string::npos) return 0;  // no path holds one
  checkPropertyList(path);
  checkDesktopEntry(path);
  return 0;
}
