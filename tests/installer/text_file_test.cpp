#include <gtest/gtest.h>

#include "TextFile.h"

namespace {

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(isValidUtf8("plain \xE2\x80\xA2 \xF0\x9F\x98\x80 \xC3\xA9"));
  // Overlong, surrogate, past U+10FFFF, cut short, stray continuation, never valid.
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x80", "\x80", "\xFF"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << bad;
  }
}

}  // namespace
