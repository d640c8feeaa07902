#pragma once

#include <string>

#include "Platform.h"

// The file formats an agent template can be written in.
enum class TemplateFormat { PropertyList, DesktopEntry };

// The token that stands for the installation folder in a template.
inline constexpr const char* kInstallPathToken = "__INSTALL_PATH__";

// Sets `filled` to `text` with every occurrence of kInstallPathToken (exact
// letter case) replaced by `installDir`, escaped so that the file's consumer
// reads back the path itself: XML escaping in a property list; in a desktop
// entry the Exec line takes the quoted-argument rules (the template quotes that
// argument) and every line the string-value escapes. Gives the reason instead,
// and leaves `filled` alone, when no escaping can carry the path: it is not
// UTF-8 text, or it holds a character XML forbids in a property list.
FileError fillInstallPath(const std::string& text, const std::string& installDir, TemplateFormat format,
                          std::string& filled);
