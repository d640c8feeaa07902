#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TextFile.h"

namespace fs = std::filesystem;

namespace {

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(isValidUtf8("plain \xE2\x80\xA2 \xF0\x9F\x98\x80 \xC3\xA9"));
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x80", "\x80", "\xFF"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  }
}

TEST(AtomicWrite, ReplacesTheWholeFileAndLeavesNothingElse) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("atomic " + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path target = folder / "agent.desktop";
  std::ofstream(target) << "an older and much longer text";

  EXPECT_FALSE(writeFileAtomically(target.string(), "new"));
  std::string text;
  EXPECT_FALSE(readUtf8File(target.string(), text));
  EXPECT_EQ(text, "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  const FileError error = writeFileAtomically((folder / "missing/agent.desktop").string(), "x");
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "Cannot write \"" + (folder / "missing/agent.desktop").string() + "\": No such file or directory.");
  fs::remove_all(folder);
}

}  // namespace
