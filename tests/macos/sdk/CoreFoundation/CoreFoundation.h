#pragma once

// A counting stand-in for the Core Foundation, IOKit and HID calls of the macOS
// walks, with Apple's signatures so that a mismatch fails to compile. It serves
// scripted services and accelerators and keeps every object it hands out, so
// that a late use or a second release fails the test, not the process.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef unsigned char Boolean;
typedef long CFIndex, CFNumberType;
typedef unsigned long CFTypeID;
typedef uint32_t CFStringEncoding, IOOptionBits;
typedef const void *CFTypeRef, *CFAllocatorRef, *CFStringRef, *CFNumberRef, *CFBooleanRef, *CFArrayRef,
    *CFDictionaryRef;
typedef void *CFMutableDictionaryRef, *IOHIDEventSystemClientRef, *IOHIDServiceClientRef;
typedef int kern_return_t;
typedef unsigned int mach_port_t, io_object_t, io_iterator_t, io_registry_entry_t;
struct CFDictionaryKeyCallBacks {};
struct CFDictionaryValueCallBacks {};
enum { kCFStringEncodingUTF8 = 0x08000100, kCFNotFound = -1, KERN_SUCCESS = 0, IO_OBJECT_NULL = 0 };
enum { kCFNumberSInt64Type = 4, kCFNumberFloat64Type = 6, kCFNumberIntType = 9 };
#define kIOHIDProductKey "Product"
#define kIOHIDPrimaryUsageKey "PrimaryUsage"
#define kIOHIDPrimaryUsagePageKey "PrimaryUsagePage"
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")

namespace standin {

enum class Kind { Text = 1, Number, Boolean, Array, Dictionary, Client, Service, Event, Iterator, Entry };
// Owned: handed out by a Create or Copy call, for the caller to release once.
enum class State { Borrowed, Owned, Released };

// A value the script gives, or an object handed out; the parts of one handed
// out are borrowed from it and die with it.
struct Object {
  Kind kind;
  std::string text{};
  double number = 0;  // a boolean's 0 or 1 too, and an event's reading
  bool isFloat = false;
  bool wide = false;            // wider than 64 bits
  std::vector<Object> items{};  // an array's, or a dictionary's keys and values in turn
  std::size_t index = 0;        // its place in the script; an iterator's next accelerator
  State state = State::Borrowed;
  const Object* holder = nullptr;  // the object handed out that it is part of
};
inline Object text(std::string s) { return {.kind = Kind::Text, .text = std::move(s)}; }
inline Object whole(double n) { return {.kind = Kind::Number, .number = n}; }
inline Object dictionary(const std::vector<std::pair<Object, Object>>& entries) {
  Object made{.kind = Kind::Dictionary};
  for (const auto& [key, value] : entries) made.items.insert(made.items.end(), {key, value});
  return made;
}

// Left out: a service without "Product" or a temperature event, an accelerator without "PerformanceStatistics".
struct Service {
  std::optional<Object> product{};
  std::optional<double> reading{};
};
enum class Copy { Table, Fails, GivesNothing };
struct Accelerator {
  Copy copy = Copy::Table;
  std::optional<Object> statistics{};
};
struct Script {
  std::string failing = "";  // the one call that fails
  std::vector<Service> services{};
  std::vector<Accelerator> accelerators{};
};

inline Script script;
// Never freed, so that every address stays unique; an IOKit handle is a place in it, from 1.
inline std::deque<Object> handedOut;
inline const void* matchingKept = nullptr;

// A misuse fails the test where it happens, named by the call that saw it.
inline void wrong(const char* call) { ADD_FAILURE() << call; }

inline void holdParts(Object& part, const Object& holder) {
  part.holder = &holder;
  part.state = State::Borrowed;
  for (Object& item : part.items) holdParts(item, holder);
}
inline Object& handOut(Object object, State state = State::Owned) {
  Object& made = handedOut.emplace_back(std::move(object));
  holdParts(made, made);
  made.state = state;
  return made;
}

inline Object& use(const void* ref) {
  Object& object = *static_cast<Object*>(const_cast<void*>(ref));
  if (object.holder->state == State::Released) wrong(__func__);
  return object;
}
inline Object& use(io_object_t handle) { return use(&handedOut.at(handle - 1)); }

inline void release(const void* ref) {
  Object& object = use(ref);
  if (object.state != State::Owned) wrong(__func__);
  object.state = State::Released;
}

inline const Object* find(const Object& dictionary, const std::string& key) {
  for (std::size_t i = 0; i + 1 < dictionary.items.size(); i += 2)
    if (dictionary.items[i].text == key) return &dictionary.items[i + 1];
  return nullptr;
}

}  // namespace standin

using namespace standin;

extern "C" {

constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
inline const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
inline const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
constexpr mach_port_t kIOMainPortDefault = 0;

inline CFTypeID CFGetTypeID(CFTypeRef cf) { return static_cast<CFTypeID>(use(cf).kind); }
inline CFTypeID CFStringGetTypeID(void) { return static_cast<CFTypeID>(Kind::Text); }
inline CFTypeID CFNumberGetTypeID(void) { return static_cast<CFTypeID>(Kind::Number); }
inline CFTypeID CFBooleanGetTypeID(void) { return static_cast<CFTypeID>(Kind::Boolean); }
inline CFTypeID CFDictionaryGetTypeID(void) { return static_cast<CFTypeID>(Kind::Dictionary); }
inline void CFRelease(CFTypeRef cf) { release(cf); }

// Core Foundation counts a string's length in UTF-16 units, not UTF-8 bytes.
inline CFIndex CFStringGetLength(CFStringRef string) {
  CFIndex units = 0;
  for (const unsigned char c : use(string).text) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  return units;
}
inline CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
inline Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding) {
  const std::string& text = use(string).text;
  if (encoding != kCFStringEncodingUTF8 || static_cast<CFIndex>(text.size()) >= size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}
inline CFStringRef __CFStringMakeConstantString(const char* cStr) { return &handOut(text(cStr), State::Borrowed); }

inline CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  if (type != kCFNumberIntType) wrong(__func__);
  return &handOut(whole(*static_cast<const int*>(valuePtr)));
}
inline Boolean CFNumberIsFloatType(CFNumberRef number) { return use(number).isFloat; }
// Like Core Foundation, a conversion that loses the value says false.
inline Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* out) {
  const Object& value = use(number);
  if (type == kCFNumberFloat64Type) *static_cast<double*>(out) = value.number;
  if (type == kCFNumberSInt64Type) *static_cast<std::int64_t*>(out) = static_cast<std::int64_t>(value.number);
  return !value.wide && (type == kCFNumberFloat64Type || (type == kCFNumberSInt64Type && !value.isFloat));
}
inline Boolean CFBooleanGetValue(CFBooleanRef boolean) { return use(boolean).number != 0; }
inline CFIndex CFArrayGetCount(CFArrayRef array) { return static_cast<CFIndex>(use(array).items.size()); }
inline const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex i) { return &use(array).items.at(i); }

// The copy holds values of its own: the caller's references stay the caller's to release.
inline CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                          const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*) {
  Object copy{.kind = Kind::Dictionary};
  for (CFIndex i = 0; i < count; ++i) copy.items.insert(copy.items.end(), {use(keys[i]), use(values[i])});
  return &handOut(copy);
}
inline CFIndex CFDictionaryGetCount(CFDictionaryRef dict) { return static_cast<CFIndex>(use(dict).items.size() / 2); }
inline const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
  return find(use(dict), use(key).text);
}
inline void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values) {
  const Object& object = use(dict);
  for (std::size_t i = 0; i + 1 < object.items.size(); i += 2) {
    keys[i / 2] = &object.items[i];
    values[i / 2] = &object.items[i + 1];
  }
}

inline IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
  if (script.failing == __func__) return nullptr;
  return &handOut({.kind = Kind::Client});
}
// The walks build one matching dictionary and keep it for the run.
inline int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef, CFDictionaryRef matching) {
  const Object& dict = use(matching);
  const Object* page = find(dict, "PrimaryUsagePage");
  const Object* usage = find(dict, "PrimaryUsage");
  if (dict.items.size() != 4 || !page || page->number != 0xFF00 || !usage || usage->number != 5) wrong(__func__);
  if (matchingKept && matchingKept != matching) wrong(__func__);
  matchingKept = matching;
  return 0;
}
inline CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef) {
  if (script.failing == __func__) return nullptr;
  Object services{.kind = Kind::Array};
  for (std::size_t i = 0; i < script.services.size(); ++i)
    services.items.push_back({.kind = Kind::Service, .index = i});
  return &handOut(services);
}
inline CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
  if (use(key).text != "Product") wrong(__func__);
  const auto& product = script.services.at(use(service).index).product;
  return product ? &handOut(*product) : nullptr;
}
inline CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options,
                                             int64_t time) {
  if (type != 15 || options != 0 || time != 0) wrong(__func__);
  const auto& reading = script.services.at(use(service).index).reading;
  return reading ? &handOut({.kind = Kind::Event, .number = *reading}) : nullptr;
}
inline double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field) {
  if (field != 0xF0000) wrong(__func__);
  return use(event).number;
}

inline CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (std::string(name) != "IOAccelerator") wrong(__func__);
  if (script.failing == __func__) return nullptr;
  return &handOut({.kind = Kind::Dictionary});
}
// Like IOKit, it takes over the caller's reference to `matching`, whatever the outcome.
inline kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t* existing) {
  release(matching);
  if (script.failing == __func__) return 1;
  handOut({.kind = Kind::Iterator});
  *existing = static_cast<io_iterator_t>(handedOut.size());
  return KERN_SUCCESS;
}
inline io_object_t IOIteratorNext(io_iterator_t iterator) {
  Object& next = use(iterator);
  if (next.index >= script.accelerators.size()) return IO_OBJECT_NULL;
  handOut({.kind = Kind::Entry, .index = next.index++});
  return static_cast<io_object_t>(handedOut.size());
}
inline kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                       CFAllocatorRef, IOOptionBits options) {
  if (options != 0) wrong(__func__);
  const Accelerator& scripted = script.accelerators.at(use(entry).index);
  if (scripted.copy == Copy::Fails) return 1;
  Object table = dictionary({{text("IOClass"), text("AGXAccelerator")}});
  if (scripted.statistics) table.items.insert(table.items.end(), {text("PerformanceStatistics"), *scripted.statistics});
  *properties = scripted.copy == Copy::Table ? &handOut(table) : nullptr;
  return KERN_SUCCESS;
}
inline kern_return_t IOObjectRelease(io_object_t object) {
  release(&handedOut.at(object - 1));
  return KERN_SUCCESS;
}

}  // extern "C"
