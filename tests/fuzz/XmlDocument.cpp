#include "XmlDocument.h"

#include <charconv>
#include <cstdint>

#include "Utf8.h"

namespace {

bool isXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// A parser reads CR LF and a lone CR as one LF.
std::string normaliseLineEnds(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i] == '\r' ? '\n' : text[i];
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

void appendUtf8(std::string& out, char32_t c) {
  const int continuations = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr unsigned kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(kLead[continuations] | (c >> (6 * continuations)));
  for (int k = continuations - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n'; }
// The property lists read here name their elements in ASCII.
bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

class Reader {
 public:
  explicit Reader(std::string text) : text_(std::move(text)) {}

  std::optional<XmlElement> document() {
    if (!take("<?xml") || !until("?>")) return std::nullopt;
    spaces();
    if (take("<!DOCTYPE") && !markupUntil(">")) return std::nullopt;
    spaces();
    XmlElement root;
    if (!element(root)) return std::nullopt;
    spaces();
    if (at_ != text_.size()) return std::nullopt;
    return root;
  }

 private:
  bool take(std::string_view prefix) {
    if (!std::string_view(text_).substr(at_).starts_with(prefix)) return false;
    at_ += prefix.size();
    return true;
  }

  void spaces() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
  }

  std::string name() {
    const std::size_t start = at_;
    while (at_ < text_.size() && isNameChar(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }

  // Everything up to `end`, which is consumed; none when `end` never comes.
  std::optional<std::string> until(std::string_view end) {
    const std::size_t found = text_.find(end, at_);
    if (found == std::string::npos) return std::nullopt;
    std::string body = text_.substr(at_, found - at_);
    at_ = found + end.size();
    return body;
  }

  // The rest of a tag: no markup may start inside it.
  std::optional<std::string> markupUntil(std::string_view end) {
    std::optional<std::string> body = until(end);
    if (body && body->find_first_of("<&") != std::string::npos) return std::nullopt;
    return body;
  }

  // After '&': one of the five predefined entities or a character reference.
  bool reference(std::string& out) {
    const std::optional<std::string> body = until(";");
    if (!body) return false;
    static const std::pair<const char*, char> predefined[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : predefined) {
      if (*body != entity) continue;
      out += c;
      return true;
    }
    if (!body->starts_with('#')) return false;
    const bool hex = body->starts_with("#x");
    const std::string_view digits = std::string_view(*body).substr(hex ? 2 : 1);
    const char* const last = digits.data() + digits.size();
    std::uint32_t code = 0;
    const auto [end, error] = std::from_chars(digits.data(), last, code, hex ? 16 : 10);
    if (error != std::errc{} || end != last || !isXmlChar(code)) return false;
    appendUtf8(out, code);
    return true;
  }

  // From '<': attributes are taken whole, as the template wrote them.
  bool element(XmlElement& out) {
    if (!take("<")) return false;
    out.name = name();
    const std::optional<std::string> rest = markupUntil(">");
    if (out.name.empty() || !isNameStart(out.name[0]) || !rest) return false;
    if (*rest == "/") return true;
    return (rest->empty() || isSpace(rest->front())) && (rest->ends_with('/') || content(out));
  }

  bool content(XmlElement& out) {
    while (at_ < text_.size()) {
      if (take("</")) {
        const bool closes = name() == out.name;
        spaces();
        return closes && take(">");
      }
      if (text_[at_] == '<') {
        if (!element(out.children.emplace_back())) return false;
      } else if (take("&")) {
        if (!reference(out.text)) return false;
      } else {
        if (take("]]>")) return false;
        out.text += text_[at_++];
      }
    }
    return false;
  }

  std::string text_;
  std::size_t at_ = 0;
};

}  // namespace

bool isXmlText(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::optional<char32_t> c = decodeUtf8(text, at);
    if (!c || !isXmlChar(*c)) return false;
  }
  return true;
}

std::optional<XmlElement> parseXmlDocument(std::string_view document) {
  if (!isXmlText(document)) return std::nullopt;
  return Reader(normaliseLineEnds(document)).document();
}
