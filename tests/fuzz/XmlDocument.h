#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A strict reader for a filled property list: a UTF-8 XML 1.0 document of
// elements and character data after an XML declaration and a document type.
// It gives the element tree with the text as a consumer reads it (references
// decoded, line ends normalised), and none for a document that is not
// well-formed. Comments, CDATA and processing instructions, which no filled
// template holds, are refused.

struct XmlElement {
  std::string name;
  std::string text;  // the character data directly inside, in order
  std::vector<XmlElement> children;
};

std::optional<XmlElement> parseXmlDocument(std::string_view document);

// Valid UTF-8 whose every character XML 1.0 allows in a document.
bool isXmlText(std::string_view text);
