#pragma once

#include <unistd.h>

// A fault that makes the installer hang would stall the whole suite; past the
// deadline SIGALRM ends the test process, and ctest reports the case failed.
class Deadline {
 public:
  explicit Deadline(unsigned seconds) { alarm(seconds); }
  ~Deadline() { alarm(0); }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;
};
