// The terminal dialog fed arbitrary typed answers: any bytes, any line
// lengths, NUL bytes, carriage returns, numbers too long to convert.
//
// Input: one byte that shapes the alert (bits 0-2: 0 to 4 buttons, modulo 5;
// bits 3-6: which of them are disabled), then what the user types.
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "TerminalAlert.h"

namespace {

constexpr const char* kTitles[] = {"Install", "Uninstall", "Cancel", "Reinstall"};

Alert alertShapedBy(std::uint8_t shape) {
  Alert alert{"Pelagrin Sensor Helper", "Choose what to do.", AlertStyle::Informational, {}};
  const std::size_t count = (shape & 7u) % 5u;
  for (std::size_t i = 0; i < count; ++i) {
    alert.addButton(kTitles[i]);
    alert.buttons[i].enabled = ((shape >> (3 + i)) & 1u) == 0;
  }
  return alert;
}

int answer(const Alert& alert, const std::string& typed) {
  std::istringstream in(typed);
  std::ostringstream out;
  return runTerminalAlert(alert, in, out);
}

// The answer is a button that can be chosen, or no choice at end of input.
void checkResponse(const Alert& alert, int response) {
  if (alert.buttons.empty()) {
    fuzzCheck(response == kAlertFirstButtonReturn, "an acknowledgement alert answered other than its one button");
    return;
  }
  if (response == kAlertDismissed) return;
  const int index = response - kAlertFirstButtonReturn;
  fuzzCheck(index >= 0 && index < static_cast<int>(alert.buttons.size()), "response names no button");
  fuzzCheck(alert.buttons[static_cast<std::size_t>(index)].enabled, "a disabled button was chosen");
}

// Whatever came before, a later line naming a usable button by its number is
// still heard: no input leaves the dialog deaf.
void checkStillAnswerable(const Alert& alert, const std::string& typed) {
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    if (!alert.buttons[i].enabled) continue;
    const int response = answer(alert, typed + "\n" + std::to_string(i + 1) + "\n");
    fuzzCheck(response != kAlertDismissed, "a usable button's number went unheard");
    checkResponse(alert, response);
    return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Alert alert = alertShapedBy(data[0]);
  const std::string typed(reinterpret_cast<const char*>(data) + 1, size - 1);
  checkResponse(alert, answer(alert, typed));
  checkStillAnswerable(alert, typed);
  return 0;
}
