#include "InstallerOptions.h"

#include <string_view>

const char* const kInstallerUsage = R"(Usage: HelperInstaller [--install | --reinstall | --uninstall | --help]

Installs, reinstalls or uninstalls PelagrinHelper, the sensor helper of the
Pelagrin app, for you. Without an option it asks once what to do, then says
what happened.

  --install, --reinstall  install the helper, replacing an installed one
                          (the two are the same), without asking
  --uninstall             stop and remove the helper without asking; with
                          nothing installed it says so and succeeds
  --help                  show this text

Exit status:
  0  the chosen action succeeded
  1  it failed, and an error message said why
  2  nothing was chosen (Cancel, the end of input, an answer that names no
     choice while the answers are piped in), or a wrong option
)";

InstallerOptions parseInstallerOptions(int argc, const char* const* argv) {
  using Kind = InstallerOptions::Kind;
  if (argc < 2) return {};
  if (argc > 2) return {.kind = Kind::Misuse};
  const std::string_view option = argv[1];
  if (option == "--install" || option == "--reinstall") return {.kind = Kind::Act, .action = Action::Install};
  if (option == "--uninstall") return {.kind = Kind::Act, .action = Action::Uninstall};
  if (option == "--help") return {.kind = Kind::Help};
  return {.kind = Kind::Misuse};
}
