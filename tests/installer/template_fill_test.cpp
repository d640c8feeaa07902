#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "TemplateFill.h"

namespace {

const char* const kAwkwardDirs[] = {"/home/Tom & Jerry/.local/share/Pelagrin",
                                    "/Users/a <b> \"c\" 'd'/Library/Application Support/Pelagrin",
                                    "/home/$USER `id` 100%/x\\y;z|#(1)*?~",
                                    "/home/tab\there/new\nline/cr\rhere"};

std::string fill(const std::string& text, const std::string& installDir, TemplateFormat format) {
  std::string filled;
  const FileError error = fillInstallPath(text, installDir, format, filled);
  EXPECT_EQ(error, std::nullopt) << installDir;
  return filled;
}

std::string readSource(const std::string& name) {
  std::ifstream in(std::string(INSTALLER_RESOURCES) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Reads an Exec value back as a desktop-entry consumer does: the string-value
// escapes first, then the quoted-argument rules, then "%%".
std::vector<std::string> execArguments(const std::string& entry) {
  const std::size_t start = entry.find("\nExec=") + 6;
  const std::string raw = entry.substr(start, entry.find('\n', start) - start);
  std::string value;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      value += raw[i];
      continue;
    }
    const char next = raw[++i];
    value += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next == 's' ? ' ' : next;
  }
  std::vector<std::string> arguments(1);
  bool quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == '\\' && i + 1 < value.size() && std::string("\"`$\\").find(value[i + 1]) != std::string::npos) {
      arguments.back() += value[++i];
    } else if (!quoted && c == ' ') {
      arguments.emplace_back();
    } else if (c == '%') {
      EXPECT_EQ(value[++i], '%') << "a field code where a literal % was meant";
      arguments.back() += '%';
    } else {
      arguments.back() += c;
    }
  }
  EXPECT_FALSE(quoted) << value;
  return arguments;
}

// Each list's first ProgramArguments entry, as the system's property-list reader sees it.
std::vector<std::string> programPaths(const std::vector<std::string>& plists) {
  std::string command = "python3 -c 'import plistlib,sys\nfor f in sys.argv[1:]: "
                        "sys.stdout.write(plistlib.load(open(f,\"rb\"))[\"ProgramArguments\"][0] + \"\\0\")'";
  std::vector<std::string> files;
  for (std::size_t i = 0; i < plists.size(); ++i) {
    files.push_back(::testing::TempDir() + "filled" + std::to_string(getpid()) + "-" + std::to_string(i) + ".plist");
    std::ofstream(files.back()) << plists[i];
    command += " " + files.back();
  }
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  for (const std::string& file : files) std::remove(file.c_str());
  std::vector<std::string> paths;
  for (std::size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1) {
    paths.push_back(out.substr(start, end - start));
  }
  return paths;
}

TEST(TemplateFill, DesktopEntryRunsTheInstalledHelperWhateverTheHomeHolds) {
  const std::string entry = readSource("app.pelagrin.helper.desktop");
  for (const std::string dir : kAwkwardDirs) {
    const std::vector<std::string> arguments = execArguments(fill(entry, dir, TemplateFormat::DesktopEntry));
    EXPECT_EQ(arguments, std::vector<std::string>{dir + "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper"});
  }
}

TEST(TemplateFill, PropertyListStaysValidAndRunsTheInstalledHelper) {
  const std::string plist = readSource("app.pelagrin.helper.plist");
  std::vector<std::string> filled, expected;
  for (const std::string dir : kAwkwardDirs) {
    filled.push_back(fill(plist, dir, TemplateFormat::PropertyList));
    expected.push_back(dir + "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper");
  }
  EXPECT_EQ(programPaths(filled), expected);
}

TEST(TemplateFill, OnlyTheExecLineTakesArgumentQuoting) {
  const std::string entry = "Path=__INSTALL_PATH__\nExec = \"__INSTALL_PATH__/x\"\nName=__INSTALL_PATH__";
  EXPECT_EQ(fill(entry, "/h/$a\\b%", TemplateFormat::DesktopEntry),
            "Path=/h/$a\\\\b%\nExec = \"/h/\\\\$a\\\\\\\\b%%/x\"\nName=/h/$a\\\\b%");
}

// No escaping carries these, so the agent file is not written rather than
// written wrong; a desktop entry takes any control character as it is.
TEST(TemplateFill, RefusesAPathTheFormatCannotHold) {
  std::string filled = "untouched";
  for (const TemplateFormat format : {TemplateFormat::PropertyList, TemplateFormat::DesktopEntry})
    EXPECT_EQ(fillInstallPath("__INSTALL_PATH__", "/home/Lat\xEDn-1", format, filled),
              "The install folder's path is not valid UTF-8 text.");
  for (const char* dir : {"/home/bell\x07", "/home/\x1B[31m", "/home/not\xEF\xBF\xBF"})
    EXPECT_EQ(fillInstallPath("__INSTALL_PATH__", dir, TemplateFormat::PropertyList, filled),
              "The install folder's path holds a character that a property list cannot hold.");
  EXPECT_EQ(filled, "untouched");
  EXPECT_EQ(fill("__INSTALL_PATH__", "/home/bell\x07", TemplateFormat::DesktopEntry), "/home/bell\x07");
}

}  // namespace
