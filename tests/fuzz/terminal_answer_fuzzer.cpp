// The terminal dialog fed any typed answers (any bytes, NUL, carriage returns,
// numbers too long to convert) answers with a button that can be chosen, or
// none at the end of input or of a line past 4 KiB; typed at a terminal, a
// later line naming the last usable button by its number is always heard
// after a shorter one. Input: one byte shaping the alert (bits 0-2: 0 to 4
// buttons, modulo 5; bits 3-6: which are disabled), then what the user types.
#include <array>
#include <sstream>

#include "FuzzSupport.h"
#include "TerminalAlert.h"

namespace {

bool hasOverlongLine(const std::string& typed) {
  std::istringstream lines(typed);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > 4096) return true;
  return false;
}

}  // namespace

void fuzzOne(std::string_view input) {
  if (input.empty()) return;
  const auto shape = static_cast<unsigned char>(input[0]);
  Alert alert{.title = "Pelagrin Sensor Helper",
              .informativeText = "Choose what to do.",
              .style = AlertStyle::Informational,
              .buttons = {}};
  for (std::size_t i = 0; i < (shape & 7u) % 5u; ++i) {
    alert.addButton(std::array{"Install", "Uninstall", "Cancel", "Reinstall"}[i]);
    alert.buttons[i].enabled = ((shape >> (3 + i)) & 1u) == 0;
  }
  const std::string typed(input.substr(1));
  std::size_t last = alert.buttons.size();  // the number of the last usable button, or 0
  while (last > 0 && !alert.buttons[last - 1].enabled) --last;
  const std::string tries[] = {typed, typed + "\n" + std::to_string(last) + "\n"};
  for (const std::string& answers : tries) {
    std::istringstream in(answers);
    std::ostringstream out;
    const int response = runTerminalAlert(alert, AnswerSource::Terminal, in, out);
    const auto index = static_cast<std::size_t>(response - kAlertFirstButtonReturn);
    if (alert.buttons.empty()) fuzzCheck(response == kAlertFirstButtonReturn, "an acknowledgement answered otherwise");
    else if (response != kAlertDismissed)
      fuzzCheck(index < alert.buttons.size() && alert.buttons[index].enabled,
                "the answer is no button that can be chosen");
    else fuzzCheck(&answers == tries || last == 0 || hasOverlongLine(typed), "a usable number went unheard");
  }
}
