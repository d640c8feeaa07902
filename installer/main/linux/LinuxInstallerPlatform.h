#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "PosixPlatform.h"
#include "TerminalAlert.h"

// The Linux stand-in: dialogs in the terminal, resources in a folder laid out
// as in a macOS application bundle, the home folder fixed at start-up.
class LinuxInstallerPlatform : public PosixPlatform {
 public:
  LinuxInstallerPlatform(std::string resourcesDir, std::string homeDir, AnswerSource answers, std::istream& in,
                         std::ostream& out);

  int runModal(const Alert& alert) override;
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override;
  std::string homeDirectory() override;
  FileError copyItem(const std::string& from, const std::string& to) override;
  FileError removeDownloadMark(const std::string& path) override;
  // Linux signs no code.
  CodeSignature ownSignature() override { return {}; }
  AgentSystem agentSystem() const override { return AgentSystem::XdgAutostart; }
  int runDetached(const std::string& executable, const std::vector<std::string>& arguments) override;

 private:
  const std::string resourcesDir_;
  const std::string homeDir_;
  const AnswerSource answers_;
  std::istream& in_;
  std::ostream& out_;
};

// Contents/Resources beside Contents/MacOS, which holds the running executable.
std::string resourcesBesideExecutable();

// $HOME when it is an absolute path, else the user database's entry for the
// real user id; without trailing slashes.
std::string resolveHomeDirectory(const char* environmentHome);
