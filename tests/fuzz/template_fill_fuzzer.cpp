// Any absolute install path (every byte but NUL, UTF-8 or not) filled into the
// shipped agent templates, then read back by the libraries that read such files
// for real: libxml2 for the property list, GLib for the desktop entry. A path
// is refused exactly when the format cannot carry it; otherwise the program the
// agent runs reads back as the path itself.
#include <glib.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"
#include "TemplateFill.h"

namespace {

const std::string kHelperInBundle = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";

std::string shippedTemplate(const char* name) {
  std::ifstream in(std::string(PELAGRIN_INSTALLER_RESOURCES) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of the first node `query` finds, or none when the document is not well-formed XML.
std::optional<std::string> xmlText(const std::string& document, const char* query) {
  xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return std::nullopt;
  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  xmlXPathObjectPtr found = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(query), context);
  std::string text(reinterpret_cast<const char*>(found->stringval));
  xmlXPathFreeObject(found);
  xmlXPathFreeContext(context);
  xmlFreeDoc(doc);
  return text;
}

void checkPropertyList(const std::string& path) {
  static const std::string plist = shippedTemplate("app.pelagrin.helper.plist");
  xmlChar* escaped = xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(path.c_str()));
  const bool carriable = xmlText("<s>" + std::string(reinterpret_cast<char*>(escaped)) + "</s>", "string(/s)") == path;
  xmlFree(escaped);
  std::string filled;
  fuzzCheck(fillInstallPath(plist, path, TemplateFormat::PropertyList, filled).has_value() != carriable,
            "a property list refused a path XML can carry, or took one it cannot");
  if (!carriable) return;
  fuzzCheck(xmlText(filled, "string(//key[.='ProgramArguments']/following-sibling::array[1]/string[1])") ==
                path + kHelperInBundle,
            "ProgramArguments does not read back as the install path");
}

// After GLib's key-file unescaping, a desktop entry's Exec takes "%%" for a
// literal percent sign and then the quoting rules that GLib's shell parser reads.
std::optional<std::string> execProgram(const std::string& entry) {
  GKeyFile* keys = g_key_file_new();
  gchar* exec = g_key_file_load_from_data(keys, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr)
                    ? g_key_file_get_string(keys, "Desktop Entry", "Exec", nullptr) : nullptr;
  std::string command;
  bool fieldCode = false;  // where a literal % was meant
  for (const char* c = exec; c && *c; ++c) {
    fieldCode = fieldCode || (*c == '%' && *++c != '%');
    if (*c) command += *c;
    else break;
  }
  gint argc = 0;
  gchar** argv = nullptr;
  std::optional<std::string> program;
  if (exec && !fieldCode && g_shell_parse_argv(command.c_str(), &argc, &argv, nullptr) && argc == 1) program = argv[0];
  g_strfreev(argv);
  g_free(exec);
  g_key_file_free(keys);
  return program;
}

void checkDesktopEntry(const std::string& path) {
  static const std::string entry = shippedTemplate("app.pelagrin.helper.desktop");
  std::string filled;
  const bool utf8 = g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr);
  fuzzCheck(fillInstallPath(entry, path, TemplateFormat::DesktopEntry, filled).has_value() != utf8,
            "a desktop entry refused a UTF-8 path, or took one that is not");
  if (!utf8) return;
  fuzzCheck(std::count(filled.begin(), filled.end(), '\n') == std::count(entry.begin(), entry.end(), '\n'),
            "the path added or removed desktop entry lines");
  fuzzCheck(execProgram(filled) == path + kHelperInBundle, "Exec does not read back as the install path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/" + std::string(reinterpret_cast<const char*>(data), size);
  if (path.find('\0') != std::string::npos) return 0;  // no path holds one
  checkPropertyList(path);
  checkDesktopEntry(path);
  return 0;
}
