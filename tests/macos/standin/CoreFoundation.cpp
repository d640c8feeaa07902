// The fake Core Foundation: the functions that tests/macos/sdk declares, each
// checking its arguments against the stand-in's books.

#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <map>

#include "Standin.h"

using standin::find;
using standin::Kind;
using standin::Object;

struct CFDictionaryKeyCallBacks {
  int version;
};
struct CFDictionaryValueCallBacks {
  int version;
};

namespace {

CFTypeID typeID(Kind kind) { return static_cast<CFTypeID>(kind) + 1; }

// Core Foundation counts a string's length in UTF-16 units, not UTF-8 bytes.
CFIndex utf16Length(const std::string& utf8) {
  CFIndex units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

template <typename T>
Boolean store(T value, void* out) {
  std::memcpy(out, &value, sizeof value);
  return true;
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{1};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{1};

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = find(cf, "CFGetTypeID");
  return object == nullptr ? 0 : typeID(object->value.kind);
}

void CFRelease(CFTypeRef cf) { standin::release(cf, "CFRelease"); }

CFTypeID CFStringGetTypeID(void) { return typeID(Kind::String); }

CFIndex CFStringGetLength(CFStringRef theString) {
  const Object* string = find(theString, Kind::String, "CFStringGetLength");
  return string == nullptr ? 0 : utf16Length(string->value.text);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  return encoding == kCFStringEncodingUTF8 ? length * 3 : CFIndex{kCFNotFound};
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  const Object* string = find(theString, Kind::String, "CFStringGetCString");
  if (string == nullptr || encoding != kCFStringEncodingUTF8) return false;
  const std::string& text = string->value.text;
  if (static_cast<CFIndex>(text.size()) + 1 > bufferSize) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  static std::map<std::string, Object*> interned;
  Object*& string = interned[cStr];
  if (string == nullptr) {
    string = &standin::constant(Kind::String, std::string("CFSTR(\"") + cStr + "\")");
    string->value.text = cStr;
  }
  return reinterpret_cast<CFStringRef>(string);
}

CFTypeID CFNumberGetTypeID(void) { return typeID(Kind::Number); }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  int value = 0;
  if (theType == kCFNumberIntType) {
    std::memcpy(&value, valuePtr, sizeof value);
  } else {
    standin::error("CFNumberCreate with a number type the stand-in does not model");
  }
  Object& number = standin::build(standin::integer(value), "number " + std::to_string(value), true);
  return reinterpret_cast<CFNumberRef>(&number);
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  const Object* object = find(number, Kind::Number, "CFNumberIsFloatType");
  return object != nullptr && object->value.isFloat;
}

// Like Core Foundation, a conversion that loses the value reports false.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  const Object* object = find(number, Kind::Number, "CFNumberGetValue");
  if (object == nullptr) return false;
  const standin::Value& v = object->value;
  if (theType == kCFNumberSInt64Type) {
    return store(v.isFloat ? static_cast<std::int64_t>(v.real) : v.integer, valuePtr) && v.fitsInt64 && !v.isFloat;
  }
  if (theType == kCFNumberFloat64Type) {
    return store(v.isFloat ? v.real : static_cast<double>(v.integer), valuePtr) && v.fitsInt64;
  }
  standin::error("CFNumberGetValue with a number type the stand-in does not model");
  return false;
}

CFTypeID CFBooleanGetTypeID(void) { return typeID(Kind::Boolean); }

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  const Object* object = find(boolean, Kind::Boolean, "CFBooleanGetValue");
  return object != nullptr && object->value.integer != 0;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  const Object* array = find(theArray, Kind::Array, "CFArrayGetCount");
  return array == nullptr ? 0 : static_cast<CFIndex>(array->children.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  const Object* array = find(theArray, Kind::Array, "CFArrayGetValueAtIndex");
  if (array == nullptr || idx < 0 || static_cast<std::size_t>(idx) >= array->children.size()) {
    standin::error("CFArrayGetValueAtIndex outside the array");
    return nullptr;
  }
  return array->children[static_cast<std::size_t>(idx)];
}

CFTypeID CFDictionaryGetTypeID(void) { return typeID(Kind::Dictionary); }

// Only the retaining callbacks are modelled: without them the dictionary would
// hold its entries unowned, and the caller could not release its own references.
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  if (keyCallBacks != &kCFTypeDictionaryKeyCallBacks || valueCallBacks != &kCFTypeDictionaryValueCallBacks) {
    standin::error("CFDictionaryCreate without the retaining CFType callbacks");
  }
  Object& dictionary = standin::make(Kind::Dictionary, "dictionary", true);
  for (CFIndex i = 0; i < numValues; ++i) {
    for (const void* entry : {keys[i], values[i]}) {
      Object* object = find(entry, "CFDictionaryCreate entry");
      if (object == nullptr) continue;
      if (!object->constant) ++object->references;
      dictionary.children.push_back(object);
    }
  }
  return reinterpret_cast<CFDictionaryRef>(&dictionary);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
  const Object* dictionary = find(theDict, Kind::Dictionary, "CFDictionaryGetCount");
  return dictionary == nullptr ? 0 : static_cast<CFIndex>(dictionary->children.size() / 2);
}

// Keys match by text; the walks only look up strings.
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  const Object* dictionary = find(theDict, Kind::Dictionary, "CFDictionaryGetValue");
  const Object* wanted = find(key, Kind::String, "CFDictionaryGetValue key");
  if (dictionary == nullptr || wanted == nullptr) return nullptr;
  for (std::size_t i = 0; i + 1 < dictionary->children.size(); i += 2) {
    const Object& candidate = *dictionary->children[i];
    if (candidate.value.kind == Kind::String && candidate.value.text == wanted->value.text) {
      return dictionary->children[i + 1];
    }
  }
  return nullptr;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
  const Object* dictionary = find(theDict, Kind::Dictionary, "CFDictionaryGetKeysAndValues");
  if (dictionary == nullptr) return;
  for (std::size_t i = 0; i + 1 < dictionary->children.size(); i += 2) {
    keys[i / 2] = dictionary->children[i];
    values[i / 2] = dictionary->children[i + 1];
  }
}

}  // extern "C"
