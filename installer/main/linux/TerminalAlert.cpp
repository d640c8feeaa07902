#include "TerminalAlert.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kDefaultButtonTitle = "OK";
// Far longer than any title, and bounded: an endless line (< /dev/zero) must
// neither fill the memory nor keep the installer reading.
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

// The length of the well-formed UTF-8 sequence that starts `text`, or 0 (an
// overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  const auto second = length > 1 ? static_cast<unsigned char>(text[at + 1]) : 0x80;
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return 0;
  return length;
}

// The code point of a well-formed sequence.
unsigned codePoint(const std::string& text, std::size_t at, std::size_t length) {
  unsigned point = static_cast<unsigned char>(text[at]) & (length == 1 ? 0x7Fu : 0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3Fu);
  return point;
}

// C0, DEL and C1 alike (U+009B alone opens a terminal command), and the
// bidirectional controls, which reorder what a person reads around them.
bool mustEscape(unsigned point) {
  return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x200E || point == 0x200F ||
         (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// The answer in double quotes as a JSON string writes it, safe to show: those
// code points as \uXXXX, a byte that is no part of valid UTF-8 as \ufffd.
std::string quotedAnswer(const std::string& answer) {
  std::string out = "\"";
  for (std::size_t at = 0, length; at < answer.size(); at += length) {
    length = utf8Length(answer, at);
    const unsigned point = length == 0 ? 0xFFFD : codePoint(answer, at, length);
    if (length == 0 || mustEscape(point)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", point);
      out += escape;
      length = std::max<std::size_t>(length, 1);
    } else {
      if (point == '"' || point == '\\') out += '\\';
      out.append(answer, at, length);
    }
  }
  return out + "\"";
}

void drawAlert(const Alert& alert, const std::vector<AlertButton>& buttons, AnswerSource source, std::ostream& out) {
  if (source != AnswerSource::None) out << '\n';
  out << styleMark(alert.style) << ' ' << alert.title << "\n\n";
  if (!alert.informativeText.empty()) out << alert.informativeText << "\n\n";
  if (source == AnswerSource::None) return;
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

// One typed line without its line feed; none at the end of input or past
// kMaxAnswerBytes, which no title comes near.
std::optional<std::string> readAnswer(std::istream& in) {
  char c = 0;
  if (!in.get(c)) return std::nullopt;
  std::string line;
  do {
    if (c == '\n') return line;
    if (line.size() == kMaxAnswerBytes) return std::nullopt;
    line += c;
  } while (in.get(c));
  return line;
}

}  // namespace

int runTerminalAlert(const Alert& alert, AnswerSource source, std::istream& in, std::ostream& out) {
  const bool acknowledgeOnly = alert.buttons.empty();
  const std::vector<AlertButton> buttons =
      acknowledgeOnly ? std::vector<AlertButton>{{kDefaultButtonTitle, true}} : alert.buttons;
  // What the end of input, or an alert only shown, answers.
  const int noAnswer = acknowledgeOnly ? kAlertFirstButtonReturn : kAlertDismissed;
  drawAlert(alert, buttons, source, out);
  if (source == AnswerSource::None) return noAnswer;
  for (;;) {
    askForAnswer(buttons, out);
    const std::optional<std::string> line = readAnswer(in);
    if (!line) {
      out << '\n';
      return noAnswer;
    }
    const std::string answer = trimmed(*line);
    if (isLoneChoice(buttons) && answer.empty()) return kAlertFirstButtonReturn;
    const std::optional<std::size_t> index = chosenIndex(answer, buttons);
    if (index && buttons[*index].enabled) return kAlertFirstButtonReturn + static_cast<int>(*index);
    out << (index ? "\"" + buttons[*index].title + "\" is unavailable."
                  : quotedAnswer(answer) + " is not one of the choices.")
        << '\n';
    if (source == AnswerSource::Pipe) return noAnswer;
  }
}
