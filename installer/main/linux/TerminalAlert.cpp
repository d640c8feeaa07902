#include "TerminalAlert.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kDefaultButtonTitle = "OK";
// Far longer than any title, and bounded: an endless line (< /dev/zero) must
// not fill the memory.
constexpr std::size_t kMaxAnswerBytes = 4096;

const char* styleMark(AlertStyle style) {
  switch (style) {
    case AlertStyle::Warning: return "[!]";
    case AlertStyle::Informational: return "[i]";
    case AlertStyle::Critical: return "[x]";
  }
  return "";
}

std::string trimmed(const std::string& text) {
  const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
  const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
  return first < last ? std::string(first, last) : std::string();
}

bool sameTitle(const std::string& answer, const std::string& title) {
  return std::equal(answer.begin(), answer.end(), title.begin(), title.end(),
                    [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

// The index of the button the answer names, by number from 1 or by title.
std::optional<std::size_t> chosenIndex(const std::string& answer, const std::vector<AlertButton>& buttons) {
  if (!answer.empty() && std::all_of(answer.begin(), answer.end(), [](unsigned char c) { return std::isdigit(c); })) {
    // A long run of digits names no button and must not overflow the conversion.
    const std::size_t number = answer.size() > 3 ? 0 : std::stoul(answer);
    if (number >= 1 && number <= buttons.size()) return number - 1;
    return std::nullopt;
  }
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (sameTitle(answer, buttons[i].title)) return i;
  }
  return std::nullopt;
}

void drawAlert(const Alert& alert, const std::vector<AlertButton>& buttons, std::ostream& out) {
  out << '\n' << styleMark(alert.style) << ' ' << alert.title << "\n\n";
  if (!alert.informativeText.empty()) out << alert.informativeText << "\n\n";
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    out << "  " << i + 1 << ". " << buttons[i].title << (buttons[i].enabled ? "" : " (unavailable)") << '\n';
  }
}

// A lone button that can be chosen is chosen by Enter alone.
bool isLoneChoice(const std::vector<AlertButton>& buttons) { return buttons.size() == 1 && buttons[0].enabled; }

void askForAnswer(const std::vector<AlertButton>& buttons, std::ostream& out) {
  if (isLoneChoice(buttons)) {
    out << "Press Enter to close. " << std::flush;
  } else {
    out << "Type a number from 1 to " << buttons.size() << " or a button's title, then press Enter: " << std::flush;
  }
}

// One typed line without its line feed, its first kMaxAnswerBytes kept and the
// rest read and dropped; none at the end of input.
std::optional<std::string> readAnswer(std::istream& in) {
  char c = 0;
  if (!in.get(c)) return std::nullopt;
  std::string line;
  do {
    if (c == '\n') return line;
    if (line.size() < kMaxAnswerBytes) line += c;
  } while (in.get(c));
  return line;
}

}  // namespace

int runTerminalAlert(const Alert& alert, std::istream& in, std::ostream& out) {
  const bool acknowledgeOnly = alert.buttons.empty();
  const std::vector<AlertButton> buttons =
      acknowledgeOnly ? std::vector<AlertButton>{{kDefaultButtonTitle, true}} : alert.buttons;
  drawAlert(alert, buttons, out);
  for (;;) {
    askForAnswer(buttons, out);
    const std::optional<std::string> line = readAnswer(in);
    if (!line) {
      out << '\n';
      return acknowledgeOnly ? kAlertFirstButtonReturn : kAlertDismissed;
    }
    const std::string answer = trimmed(*line);
    if (isLoneChoice(buttons) && answer.empty()) return kAlertFirstButtonReturn;
    const std::optional<std::size_t> index = chosenIndex(answer, buttons);
    if (index && buttons[*index].enabled) return kAlertFirstButtonReturn + static_cast<int>(*index);
    out << (index ? "\"" + buttons[*index].title + "\" is unavailable."
                  : "\"" + answer + "\" is not one of the choices.")
        << '\n';
  }
}
