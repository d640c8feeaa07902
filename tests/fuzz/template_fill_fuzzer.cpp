// Any absolute install path (every byte but NUL, UTF-8 or not) filled into the
// shipped agent templates and read back as the system reads them: libxml2 the
// property list, GLib the desktop entry. A path is refused exactly when the
// format cannot carry it; otherwise the agent's program reads back as the path.
#include <glib.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"
#include "TemplateFill.h"

namespace {

const std::string kHelperInBundle = "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";

// Named by the build, not by __FILE__, which ccache may make relative.
std::string shipped(const char* name) {
  std::ifstream in(std::filesystem::path(INSTALLER_RESOURCES) / name);
  fuzzCheck(in.good(), "a shipped agent template cannot be read");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text that `query` finds, or none when the document is not well-formed XML.
std::optional<std::string> xmlText(const std::string& document, const char* query) {
  xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return std::nullopt;
  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  xmlXPathObjectPtr found = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(query), context);
  const std::string text(reinterpret_cast<const char*>(found->stringval));
  xmlXPathFreeObject(found);
  xmlXPathFreeContext(context);
  xmlFreeDoc(doc);
  return text;
}

// GLib unescapes the key's value; then "%%" is a literal percent sign (any
// other % a field code) and the rest follows the quoting that GLib's shell
// parser reads.
std::optional<std::string> execProgram(const std::string& entry) {
  g_autoptr(GKeyFile) keys = g_key_file_new();
  g_key_file_load_from_data(keys, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr);
  g_autofree gchar* exec = g_key_file_get_string(keys, "Desktop Entry", "Exec", nullptr);
  std::string command = exec ? exec : "";
  bool fieldCode = false;
  for (std::size_t at = 0; (at = command.find('%', at)) != std::string::npos; command.erase(at++, 1))
    fieldCode = fieldCode || command.compare(at, 2, "%%") != 0;
  gint argc = 0;
  g_auto(GStrv) argv = nullptr;
  if (!exec || fieldCode || !g_shell_parse_argv(command.c_str(), &argc, &argv, nullptr) || argc != 1)
    return std::nullopt;
  return argv[0];
}

}  // namespace

void fuzzOne(std::string_view input) {
  static const std::string plist = shipped("app.pelagrin.helper.plist"), entry = shipped("app.pelagrin.helper.desktop");
  const std::string path = "/" + std::string(input);
  if (path.find('\0') != std::string::npos) return;  // no path holds one
  xmlChar* escaped = xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(path.c_str()));
  const bool xml = xmlText("<s>" + std::string(reinterpret_cast<char*>(escaped)) + "</s>", "string(/s)") == path;
  const bool utf8 = g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr);
  xmlFree(escaped);
  std::string filled;
  fuzzCheck(fillInstallPath(plist, path, TemplateFormat::PropertyList, filled).has_value() != xml,
            "a property list refused a path XML can carry, or took one it cannot");
  fuzzCheck(!xml || xmlText(filled, "string(//key[.='ProgramArguments']/following-sibling::array[1]/string[1])") ==
                        path + kHelperInBundle,
            "ProgramArguments does not read back as the install path");
  fuzzCheck(fillInstallPath(entry, path, TemplateFormat::DesktopEntry, filled).has_value() != utf8,
            "a desktop entry refused a UTF-8 path, or took one that is not");
  fuzzCheck(!utf8 || execProgram(filled) == path + kHelperInBundle, "Exec does not read back as the install path");
}
