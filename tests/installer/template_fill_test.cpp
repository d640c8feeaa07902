#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <unistd.h>

#include "TemplateFill.h"

namespace {

std::string fill(const std::string& text, const std::string& installDir, TemplateFormat format) {
  std::string filled;
  EXPECT_EQ(fillInstallPath(text, installDir, format, filled), std::nullopt) << installDir;
  return filled;
}

std::string readSource(const std::string& name) {
  std::ifstream in(std::string(INSTALLER_RESOURCES) + "/" + name);
  return {std::istreambuf_iterator<char>(in), {}};
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
  const std::string_view escapable = "\"`$\\";
  std::vector<std::string> arguments(1);
  bool quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == '\\' && i + 1 < value.size() && escapable.find(value[i + 1]) != escapable.npos) {
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

// The first ProgramArguments entry, as the system's property-list reader sees it.
std::string programPath(const std::string& plist) {
  const std::string file = ::testing::TempDir() + "filled" + std::to_string(getpid()) + ".plist";
  std::ofstream(file) << plist;
  const std::string command = "python3 -c 'import plistlib,sys; sys.stdout.write(plistlib.load(open(sys.argv[1],"
                              "\"rb\"))[\"ProgramArguments\"][0])' " + file;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  std::remove(file.c_str());
  return out;
}

TEST(TemplateFill, ShippedTemplatesRunTheInstalledHelperWhateverTheHomeHolds) {
  const std::string entry = readSource("app.pelagrin.helper.desktop");
  const std::string plist = readSource("app.pelagrin.helper.plist");
  for (const std::string dir : {"/home/Tom & Jerry/.local/share/Pelagrin",
                                "/Users/a <b> \"c\" 'd'/Library/Application Support/Pelagrin",
                                "/home/$USER `id` 100%/x\\y;z|#(1)*?~", "/home/tab\there/new\nline/cr\rhere"}) {
    const std::string program = dir + "/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";
    EXPECT_EQ(execArguments(fill(entry, dir, TemplateFormat::DesktopEntry)), std::vector<std::string>{program});
    EXPECT_EQ(programPath(fill(plist, dir, TemplateFormat::PropertyList)), program);
  }
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
  EXPECT_EQ(fill("__INSTALL_PATH__", "/\xE2\x80\xA2 \xF0\x9F\x98\x80 \xC3\xA9", TemplateFormat::PropertyList),
            "/\xE2\x80\xA2 \xF0\x9F\x98\x80 \xC3\xA9");
  // Latin-1, overlong, surrogate, past U+10FFFF, cut short, stray continuation, never valid.
  for (const char* bad :
       {"Lat\xEDn-1", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x80", "\x80", "\xFF"}) {
    for (const TemplateFormat format : {TemplateFormat::PropertyList, TemplateFormat::DesktopEntry}) {
      EXPECT_EQ(fillInstallPath("__INSTALL_PATH__", std::string("/home/") + bad, format, filled),
                "The install folder's path is not valid UTF-8 text.");
    }
  }
  for (const char* dir : {"/home/bell\x07", "/home/\x1B[31m", "/home/not\xEF\xBF\xBF"})
    EXPECT_EQ(fillInstallPath("__INSTALL_PATH__", dir, TemplateFormat::PropertyList, filled),
              "The install folder's path holds a character that a property list cannot hold.");
  EXPECT_EQ(filled, "untouched");
  EXPECT_EQ(fill("__INSTALL_PATH__", "/home/bell\x07", TemplateFormat::DesktopEntry), "/home/bell\x07");
}

}  // namespace
