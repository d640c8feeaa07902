#include "XmlDocument.h"

#include <set>

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
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Non-ASCII name characters are taken as a whole; the property lists read
// here name their elements in ASCII.
bool isNameStart(char c) { return isAsciiLetter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// "xml" in any letter case names no processing instruction.
bool isReservedTarget(std::string_view target) {
  return target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l';
}

class Reader {
 public:
  explicit Reader(std::string text) : text_(std::move(text)) {}

  std::optional<XmlElement> document() {
    if (lookingAt("<?xml") && !xmlDeclaration()) return std::nullopt;
    if (!misc()) return std::nullopt;
    if (lookingAt("<!DOCTYPE") && (!doctype() || !misc())) return std::nullopt;
    XmlElement root;
    if (!element(root) || !misc() || at_ != text_.size()) return std::nullopt;
    return root;
  }

 private:
  bool lookingAt(std::string_view prefix) const { return std::string_view(text_).substr(at_).starts_with(prefix); }

  bool take(std::string_view prefix) {
    if (!lookingAt(prefix)) return false;
    at_ += prefix.size();
    return true;
  }

  bool spaces() {
    const std::size_t start = at_;
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    return at_ > start;
  }

  std::optional<std::string> name() {
    if (at_ >= text_.size() || !isNameStart(text_[at_])) return std::nullopt;
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

  std::optional<std::string> quoted() {
    if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return std::nullopt;
    const char quote = text_[at_++];
    return until(std::string_view(&quote, 1));
  }

  bool xmlDeclaration() {
    take("<?xml");
    const std::optional<std::string> body = until("?>");
    return body && (body->find("version=\"1.0\"") != std::string::npos ||
                    body->find("version='1.0'") != std::string::npos);
  }

  bool comment() {
    const std::optional<std::string> body = until("-->");
    return body && body->find("--") == std::string::npos && !body->ends_with('-');
  }

  bool processingInstruction() {
    const std::optional<std::string> target = name();
    if (!target || isReservedTarget(*target)) return false;
    if (take("?>")) return true;
    return spaces() && until("?>").has_value();
  }

  bool misc() {
    for (;;) {
      if (take("<!--")) {
        if (!comment()) return false;
      } else if (take("<?")) {
        if (!processingInstruction()) return false;
      } else if (!spaces()) {
        return true;
      }
    }
  }

  bool externalId() {
    if (take("SYSTEM")) return spaces() && quoted().has_value();
    if (!take("PUBLIC") || !spaces() || !quoted()) return false;
    return spaces() && quoted().has_value();
  }

  bool doctype() {
    take("<!DOCTYPE");
    if (!spaces() || !name()) return false;
    if (spaces() && (lookingAt("SYSTEM") || lookingAt("PUBLIC")) && !externalId()) return false;
    spaces();
    return take(">");
  }

  // After '&': a predefined entity or a character reference to an XML character.
  bool reference(std::string& out) {
    const std::optional<std::string> body = until(";");
    if (!body) return false;
    static const std::pair<const char*, char> predefined[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : predefined) {
      if (*body == entity) {
        out += c;
        return true;
      }
    }
    const bool hex = body->starts_with("#x");
    const std::string_view digits = std::string_view(*body).substr(hex ? 2 : 1);
    if (!body->starts_with('#') || digits.empty() || digits.size() > 8) return false;
    char32_t code = 0;
    for (const char d : digits) {
      const int value = d >= '0' && d <= '9' ? d - '0' : hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f' ? (d | 0x20) - 'a' + 10 : -1;
      if (value < 0) return false;
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
    }
    if (!isXmlChar(code)) return false;
    appendUtf8(out, code);
    return true;
  }

  bool attribute(std::set<std::string>& seen) {
    const std::optional<std::string> attributeName = name();
    if (!attributeName || !seen.insert(*attributeName).second) return false;
    spaces();
    if (!take("=")) return false;
    spaces();
    const std::optional<std::string> value = quoted();
    if (!value || value->find('<') != std::string::npos) return false;
    std::string decoded;
    for (std::size_t i = 0; i < value->size(); ++i) {
      if ((*value)[i] != '&') continue;
      Reader inner(value->substr(i + 1));
      if (!inner.reference(decoded)) return false;
      i += inner.at_;
    }
    return true;
  }

  // After "<name": attributes, then "/>" or ">" content "</name>".
  bool element(XmlElement& out) {
    if (!take("<")) return false;
    const std::optional<std::string> elementName = name();
    if (!elementName) return false;
    out.name = *elementName;
    std::set<std::string> seen;
    while (spaces() && !lookingAt("/>") && !lookingAt(">"))
      if (!attribute(seen)) return false;
    if (take("/>")) return true;
    return take(">") && content(out) && endTag(out.name);
  }

  bool endTag(const std::string& elementName) {
    if (name() != elementName) return false;
    spaces();
    return take(">");
  }

  bool content(XmlElement& out) {
    for (;;) {
      if (at_ >= text_.size()) return false;
      if (take("</")) return true;
      if (take("<!--")) {
        if (!comment()) return false;
      } else if (take("<![CDATA[")) {
        const std::optional<std::string> data = until("]]>");
        if (!data) return false;
        out.text += *data;
      } else if (take("<?")) {
        if (!processingInstruction()) return false;
      } else if (lookingAt("<")) {
        out.children.emplace_back();
        if (!element(out.children.back())) return false;
      } else if (take("&")) {
        if (!reference(out.text)) return false;
      } else {
        if (take("]]>")) return false;
        out.text += text_[at_++];
      }
    }
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
