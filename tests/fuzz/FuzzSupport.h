#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Each fuzzer's body, fed one input. A broken invariant ends the run at once:
// libFuzzer keeps the input as a crash, and the seed run fails its test.
void fuzzOne(std::string_view input);
void fuzzCheck(bool holds, const char* invariant);

// The script that the test builds' platform layer reads in place of a file.
extern std::string fuzzedScript;
