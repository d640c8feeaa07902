#pragma once

#include <string>

// The shortest decimal that reads back as the same number, in fixed notation
// where one does: figures show as the platform gave them (38.85, not
// 38.850000000000001), and a single-precision one as the float it is.
std::string shortestDecimal(double value, bool single = false);
