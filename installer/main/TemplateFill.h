#pragma once

#include <string>

// The file formats an agent template can be written in.
enum class TemplateFormat { PropertyList, DesktopEntry };

// The token that stands for the installation folder in a template.
inline constexpr const char* kInstallPathToken = "__INSTALL_PATH__";

// Replaces every occurrence of kInstallPathToken (exact letter case) with
// `installDir`, escaped so that the file's consumer reads back the path itself:
// XML escaping in a property list; in a desktop entry the Exec line takes the
// quoted-argument rules (the template quotes that argument) and every line the
// string-value escapes.
std::string fillInstallPath(const std::string& text, const std::string& installDir, TemplateFormat format);
