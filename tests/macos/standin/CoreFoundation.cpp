// The fake Core Foundation: the functions that tests/macos/sdk declares, each
// checking its arguments against the ledger.

#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <map>
#include <string>
#include <type_traits>

#include "CoreFoundationCounters.h"
#include "Ledger.h"

using standin::Kind;
using standin::ledger;
using standin::Object;

struct CFDictionaryKeyCallBacks {
  int version;
};
struct CFDictionaryValueCallBacks {
  int version;
};

namespace {

constexpr CFTypeID kStringTypeID = 7;
constexpr CFTypeID kNumberTypeID = 22;
constexpr CFTypeID kBooleanTypeID = 21;
constexpr CFTypeID kArrayTypeID = 19;
constexpr CFTypeID kDictionaryTypeID = 18;
constexpr CFTypeID kFirstOtherTypeID = 100;

std::size_t dictionaryCreations = 0;

Object& booleanConstant(bool value) {
  Object& object = ledger().constant(Kind::Boolean, value ? "kCFBooleanTrue" : "kCFBooleanFalse");
  object.boolean = value;
  return object;
}

// Core Foundation counts a string's length in UTF-16 units.
CFIndex utf16Length(const std::string& utf8) {
  CFIndex units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

bool equalKeys(const Object& a, const Object& b) {
  if (&a == &b) return true;
  if (a.kind != b.kind) return false;
  if (a.kind == Kind::String) return a.text == b.text;
  if (a.kind == Kind::Number) return a.isFloat == b.isFloat && a.integer == b.integer && a.real == b.real;
  return false;
}

template <typename T>
bool storeNumber(const Object& number, void* out) {
  const T value = number.isFloat ? static_cast<T>(number.real) : static_cast<T>(number.integer);
  std::memcpy(out, &value, sizeof value);
  if (!number.fitsInt64) return false;
  if (number.isFloat) return std::is_floating_point_v<T> || static_cast<double>(value) == number.real;
  return static_cast<std::int64_t>(value) == number.integer;
}

}  // namespace

namespace standin {
std::size_t dictionariesCreated() { return dictionaryCreations; }
}  // namespace standin

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = standin::ref<CFBooleanRef>(booleanConstant(true));
const CFBooleanRef kCFBooleanFalse = standin::ref<CFBooleanRef>(booleanConstant(false));
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{1};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{1};

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = ledger().find(cf, "CFGetTypeID");
  if (object == nullptr) return 0;
  switch (object->kind) {
    case Kind::String:
      return kStringTypeID;
    case Kind::Number:
      return kNumberTypeID;
    case Kind::Boolean:
      return kBooleanTypeID;
    case Kind::Array:
      return kArrayTypeID;
    case Kind::Dictionary:
      return kDictionaryTypeID;
    default:
      return kFirstOtherTypeID + static_cast<CFTypeID>(object->kind);
  }
}

void CFRelease(CFTypeRef cf) {
  ledger().releaseByCaller(cf, "CFRelease");
}

CFTypeID CFStringGetTypeID(void) { return kStringTypeID; }

CFIndex CFStringGetLength(CFStringRef theString) {
  const Object* string = ledger().findKind(theString, Kind::String, "CFStringGetLength");
  return string == nullptr ? 0 : utf16Length(string->text);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (encoding != kCFStringEncodingUTF8) {
    ledger().error("CFStringGetMaximumSizeForEncoding asked for an encoding other than UTF-8");
    return kCFNotFound;
  }
  return length * 3;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  const Object* string = ledger().findKind(theString, Kind::String, "CFStringGetCString");
  if (string == nullptr || encoding != kCFStringEncodingUTF8) return false;
  if (static_cast<CFIndex>(string->text.size()) + 1 > bufferSize) return false;
  std::memcpy(buffer, string->text.c_str(), string->text.size() + 1);
  return true;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  static std::map<std::string, Object*> interned;
  Object*& constant = interned[cStr];
  if (constant == nullptr) {
    constant = &ledger().constant(Kind::String, std::string("CFSTR(\"") + cStr + "\")");
    constant->text = cStr;
  }
  return standin::ref<CFStringRef>(*constant);
}

CFTypeID CFNumberGetTypeID(void) { return kNumberTypeID; }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  Object& number = ledger().handOut(Kind::Number, "number");
  number.numberType = theType;
  switch (theType) {
    case kCFNumberIntType:
    case kCFNumberSInt32Type: {
      std::int32_t value = 0;
      std::memcpy(&value, valuePtr, sizeof value);
      number.integer = value;
      break;
    }
    case kCFNumberSInt64Type: {
      std::memcpy(&number.integer, valuePtr, sizeof number.integer);
      break;
    }
    default:
      ledger().error("CFNumberCreate with a number type the stand-in does not model");
  }
  number.label = "number " + std::to_string(number.integer);
  return standin::ref<CFNumberRef>(number);
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  const Object* object = ledger().findKind(number, Kind::Number, "CFNumberIsFloatType");
  return object != nullptr && object->isFloat;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  const Object* object = ledger().findKind(number, Kind::Number, "CFNumberGetValue");
  if (object == nullptr) return false;
  switch (theType) {
    case kCFNumberIntType:
    case kCFNumberSInt32Type:
      return storeNumber<std::int32_t>(*object, valuePtr);
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
      return storeNumber<std::int64_t>(*object, valuePtr);
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
      return storeNumber<double>(*object, valuePtr);
    default:
      ledger().error("CFNumberGetValue with a number type the stand-in does not model");
      return false;
  }
}

CFTypeID CFBooleanGetTypeID(void) { return kBooleanTypeID; }

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  const Object* object = ledger().findKind(boolean, Kind::Boolean, "CFBooleanGetValue");
  return object != nullptr && object->boolean;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  const Object* array = ledger().findKind(theArray, Kind::Array, "CFArrayGetCount");
  return array == nullptr ? 0 : static_cast<CFIndex>(array->children.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  const Object* array = ledger().findKind(theArray, Kind::Array, "CFArrayGetValueAtIndex");
  if (array == nullptr) return nullptr;
  if (idx < 0 || static_cast<std::size_t>(idx) >= array->children.size()) {
    ledger().error("CFArrayGetValueAtIndex beyond the end of " + array->label);
    return nullptr;
  }
  return array->children[static_cast<std::size_t>(idx)];
}

CFTypeID CFDictionaryGetTypeID(void) { return kDictionaryTypeID; }

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  ++dictionaryCreations;
  Object& dictionary = ledger().handOut(Kind::Dictionary, "dictionary");
  const bool retains = keyCallBacks == &kCFTypeDictionaryKeyCallBacks &&
                       valueCallBacks == &kCFTypeDictionaryValueCallBacks;
  for (CFIndex i = 0; i < numValues; ++i) {
    Object* key = ledger().find(keys[i], "CFDictionaryCreate key");
    Object* value = ledger().find(values[i], "CFDictionaryCreate value");
    if (key == nullptr || value == nullptr) continue;
    for (Object* entry : {key, value}) {
      if (retains) {
        ledger().retainInto(dictionary, *entry);
      } else {
        ledger().borrowInto(dictionary, *entry);
      }
    }
  }
  return standin::ref<CFDictionaryRef>(dictionary);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
  const Object* dictionary = ledger().findKind(theDict, Kind::Dictionary, "CFDictionaryGetCount");
  return dictionary == nullptr ? 0 : static_cast<CFIndex>(dictionary->children.size() / 2);
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  const Object* dictionary = ledger().findKind(theDict, Kind::Dictionary, "CFDictionaryGetValue");
  const Object* wanted = ledger().find(key, "CFDictionaryGetValue key");
  if (dictionary == nullptr || wanted == nullptr) return nullptr;
  for (std::size_t i = 0; i + 1 < dictionary->children.size(); i += 2) {
    if (equalKeys(*dictionary->children[i], *wanted)) return dictionary->children[i + 1];
  }
  return nullptr;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
  const Object* dictionary = ledger().findKind(theDict, Kind::Dictionary, "CFDictionaryGetKeysAndValues");
  if (dictionary == nullptr) return;
  for (std::size_t i = 0; i + 1 < dictionary->children.size(); i += 2) {
    keys[i / 2] = dictionary->children[i];
    values[i / 2] = dictionary->children[i + 1];
  }
}

}  // extern "C"
