#include <gtest/gtest.h>

#include <sstream>

#include "TerminalAlert.h"

namespace {

Alert prompt() {
  Alert alert{"Pelagrin Sensor Helper", "Body", AlertStyle::Informational, {}};
  alert.addButton("Install");
  alert.addButton("Uninstall");
  alert.addButton("Cancel");
  alert.buttons[1].enabled = false;
  return alert;
}

int answer(const Alert& alert, const std::string& input, std::string* shown = nullptr) {
  std::istringstream in(input);
  std::ostringstream out;
  const int response = runTerminalAlert(alert, in, out);
  if (shown != nullptr) *shown = out.str();
  return response;
}

// A prompt asks again for what cannot be chosen, and takes the end of input as
// no choice; a result alert takes it as acknowledged.
TEST(TerminalAlert, AnswersByNumberOrTitleAndAsksAgainForWhatCannotBeChosen) {
  std::string shown;
  EXPECT_EQ(answer(prompt(), "1\n", &shown), 1000);
  EXPECT_NE(shown.find("Pelagrin Sensor Helper\n\nBody\n\n  1. Install\n  2. Uninstall (unavailable)\n  3. Cancel\n"),
            std::string::npos)
      << shown;
  EXPECT_EQ(answer(prompt(), "  cancel \n"), 1002);
  EXPECT_EQ(answer(prompt(), "2\nUninstall\n4\n0\n99999999999999999999\nmaybe\n\nInstall\n"), 1000);
  EXPECT_EQ(answer(prompt(), "2\n"), kAlertDismissed);
  const Alert result{"Success", "Done", AlertStyle::Informational, {}};
  EXPECT_EQ(answer(result, "", &shown), kAlertFirstButtonReturn);
  EXPECT_NE(shown.find("  1. OK\n"), std::string::npos);
  EXPECT_EQ(answer(result, "\n"), kAlertFirstButtonReturn);
}

}  // namespace
