#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A strict reader of XML 1.0 documents in UTF-8, enough to judge a filled
// property list: it accepts only well-formed documents and gives their element
// tree with the text as a consumer reads it (references decoded, line ends
// normalised). A document type may name an external DTD but hold no internal
// subset, and only the five predefined entities exist.

struct XmlElement {
  std::string name;
  std::string text;  // the character data directly inside, in order
  std::vector<XmlElement> children;
};

std::optional<XmlElement> parseXmlDocument(std::string_view document);

// Valid UTF-8 whose every character XML 1.0 allows in a document.
bool isXmlText(std::string_view text);
