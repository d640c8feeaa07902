#include "SoakSession.h"

#include <stdlib.h>

#include <filesystem>

#include "ProcessProbe.h"
#include "Reader.h"

namespace {

// The kernel's own defaults: the namespace only isolates the port.
const char* const kDefaultSendBuffers = "4096 16384 4194304";

}  // namespace

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/pelagrin-soak-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

SoakSession::SoakSession(const std::string& binary, const std::vector<std::string>& environment,
                         const std::string& logPath)
    : privateNetwork_(enterPrivateNetwork(kDefaultSendBuffers)),
      helper_(binary, environment, logToFile(logPath)),
      table_(logPath) {}

bool SoakSession::alive() { return !helper_.waitExit(0); }

bool SoakSession::awaitListening(int timeoutMs) {
  return serveUntil({}, [this] { return table_.update(), table_.listening(); }, timeoutMs);
}

bool SoakSession::awaitClients(int count, int timeoutMs) {
  return serveUntil({}, [this, count] { return table_.update(), table_.clients() == count; }, timeoutMs);
}

bool SoakSession::awaitDescriptors(int count, int timeoutMs) {
  return serveUntil({}, [this, count] { return openDescriptorCount(helper_.pid()) == count; }, timeoutMs);
}
