// The macOS sensor walks, compiled unchanged against a counting stand-in of the
// Core Foundation and IOKit calls they make. The stand-in keeps every object it
// ever made, so a late use or a second release is reported, not a crash; each
// case then checks that every object handed to the walk went back exactly once.

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/SensorPlatform.h"

namespace {

enum class Kind { String, Number, Boolean, Array, Dictionary, Client, Service, Event, Iterator, Entry };

struct Value {
  Kind kind;
  std::string text{};
  double real = 0;
  std::int64_t integer = 0;
  bool isFloat = false, wide = false;
  std::vector<Value> items{};  // an array's items, or a dictionary's keys and values in turn
};
Value text(std::string s) { return {.kind = Kind::String, .text = std::move(s)}; }
Value whole(std::int64_t n) { return {.kind = Kind::Number, .integer = n}; }
Value real(double d) { return {.kind = Kind::Number, .real = d, .isFloat = true}; }
Value flag(bool b) { return {.kind = Kind::Boolean, .integer = b}; }
Value dictionary(std::vector<Value> keysAndValues) { return {.kind = Kind::Dictionary, .items = std::move(keysAndValues)}; }

struct Object {
  Value value;
  std::vector<Object*> items;
  const Object* owner = nullptr;  // the container it belongs to: whoever reads it borrows it
  bool constant = false;          // a CFSTR string: nobody owns it
  int references = 1;
  std::size_t index = 0;          // its place in the script; an iterator's next accelerator
  io_object_t handle = 0;
};

struct Service {
  std::optional<Value> product;   // none: no "Product"
  std::optional<double> reading;  // none: no current temperature event
};
enum class Copy { Table, Fails, GivesNothing };
struct Accelerator {
  Copy copy = Copy::Table;
  std::optional<Value> statistics;  // none: no "PerformanceStatistics"
};
struct Script {
  bool clientFails = false, servicesFail = false, matchingFails = false, queryFails = false;
  std::vector<Service> services{};
  std::vector<Accelerator> accelerators{};
};

Script script;
std::deque<Object> objects;  // never freed, so every address stays unique
std::vector<std::string> errors;
std::vector<const void*> matchingGiven;

bool alive(const Object& object) { return object.references > 0 && (!object.owner || alive(*object.owner)); }

Object& make(Value value, const Object* owner = nullptr) {
  Object& object = objects.emplace_back();
  object.owner = owner;
  object.handle = static_cast<io_object_t>(objects.size());
  for (const Value& item : value.items) object.items.push_back(&make(item, &object));
  object.value = std::move(value);
  return object;
}

Object* use(const void* ref, std::optional<Kind> kind = std::nullopt) {
  for (Object& object : objects) {
    if (&object != ref) continue;
    if (!alive(object)) errors.push_back("an object used after its release");
    if (kind && object.value.kind != *kind) errors.push_back("an object of another type");
    return &object;
  }
  errors.push_back(ref ? "an object the stand-in never made" : "a null object");
  return nullptr;
}

Object* use(io_object_t handle, Kind kind) { return handle ? use(&objects.at(handle - 1), kind) : use(nullptr); }

void release(const void* ref) {
  Object* object = use(ref);
  if (!object) return;
  if (object->constant || object->owner) return errors.push_back("released an object the caller does not own");
  if (object->references-- == 0) errors.push_back("released an object twice");
}

const Object* find(const Object& dictionary, const std::string& key) {
  for (std::size_t i = 0; i + 1 < dictionary.items.size(); i += 2)
    if (dictionary.items[i]->value.text == key) return dictionary.items[i + 1];
  return nullptr;
}

CFTypeID typeOf(Kind kind) { return static_cast<CFTypeID>(kind) + 1; }

}  // namespace

struct CFDictionaryKeyCallBacks {};
struct CFDictionaryValueCallBacks {};

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
const mach_port_t kIOMainPortDefault = 0;

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = use(cf);
  return object ? typeOf(object->value.kind) : 0;
}
void CFRelease(CFTypeRef cf) { release(cf); }
CFTypeID CFStringGetTypeID(void) { return typeOf(Kind::String); }
CFTypeID CFNumberGetTypeID(void) { return typeOf(Kind::Number); }
CFTypeID CFBooleanGetTypeID(void) { return typeOf(Kind::Boolean); }
CFTypeID CFDictionaryGetTypeID(void) { return typeOf(Kind::Dictionary); }

// Core Foundation counts a string's length in UTF-16 units, not UTF-8 bytes.
CFIndex CFStringGetLength(CFStringRef string) {
  CFIndex units = 0;
  for (const char c : use(string, Kind::String)->value.text)
    units += ((static_cast<unsigned char>(c) & 0xC0) != 0x80) + (static_cast<unsigned char>(c) >= 0xF0);
  return units;
}
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding) {
  const std::string& text = use(string, Kind::String)->value.text;
  if (encoding != kCFStringEncodingUTF8 || static_cast<CFIndex>(text.size()) >= size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}
CFStringRef __CFStringMakeConstantString(const char* cStr) {
  static std::map<std::string, Object*> interned;
  Object*& string = interned[cStr];
  if (!string) (string = &make(text(cStr)))->constant = true;
  return reinterpret_cast<CFStringRef>(string);
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  int value = 0;
  if (type != kCFNumberIntType) errors.push_back("a number type the stand-in does not model");
  std::memcpy(&value, valuePtr, sizeof value);
  return reinterpret_cast<CFNumberRef>(&make(whole(value)));
}
Boolean CFNumberIsFloatType(CFNumberRef number) { return use(number, Kind::Number)->value.isFloat; }
// Like Core Foundation, a conversion that loses the value says false.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* out) {
  const Value& v = use(number, Kind::Number)->value;
  if (type == kCFNumberFloat64Type) {
    const double real = v.isFloat ? v.real : static_cast<double>(v.integer);
    std::memcpy(out, &real, sizeof real);
    return !v.wide;
  }
  const std::int64_t integer = v.isFloat ? static_cast<std::int64_t>(v.real) : v.integer;
  std::memcpy(out, &integer, sizeof integer);
  return type == kCFNumberSInt64Type && !v.wide && !v.isFloat;
}
Boolean CFBooleanGetValue(CFBooleanRef boolean) { return use(boolean, Kind::Boolean)->value.integer != 0; }

CFIndex CFArrayGetCount(CFArrayRef array) { return static_cast<CFIndex>(use(array, Kind::Array)->items.size()); }
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  return use(array, Kind::Array)->items.at(static_cast<std::size_t>(index));
}

// The copy holds values of its own: the caller's references stay the caller's to release.
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*) {
  std::vector<Value> items;
  for (CFIndex i = 0; i < count; ++i) items.insert(items.end(), {use(keys[i])->value, use(values[i])->value});
  return reinterpret_cast<CFDictionaryRef>(&make(dictionary(items)));
}
CFIndex CFDictionaryGetCount(CFDictionaryRef dict) { return static_cast<CFIndex>(use(dict, Kind::Dictionary)->items.size() / 2); }
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
  return find(*use(dict, Kind::Dictionary), use(key, Kind::String)->value.text);
}
void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values) {
  const Object* object = use(dict, Kind::Dictionary);
  for (std::size_t i = 0; i + 1 < object->items.size(); i += 2) *keys++ = object->items[i], *values++ = object->items[i + 1];
}

IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
  return script.clientFails ? nullptr : reinterpret_cast<IOHIDEventSystemClientRef>(&make({.kind = Kind::Client}));
}
int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching) {
  use(client, Kind::Client);
  const Object* dict = use(matching, Kind::Dictionary);
  const Object* page = find(*dict, "PrimaryUsagePage");
  const Object* usage = find(*dict, "PrimaryUsage");
  if (dict->items.size() != 4 || !page || page->value.integer != 0xFF00 || !usage || usage->value.integer != 5)
    errors.push_back("matched on something else than Apple's temperature sensors");
  matchingGiven.push_back(matching);
  return 0;
}
CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client) {
  use(client, Kind::Client);
  if (script.servicesFail) return nullptr;
  Object& list = make({.kind = Kind::Array, .items = std::vector<Value>(script.services.size(), {.kind = Kind::Service})});
  for (std::size_t i = 0; i < list.items.size(); ++i) list.items[i]->index = i;
  return reinterpret_cast<CFArrayRef>(&list);
}
CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
  if (use(key, Kind::String)->value.text != "Product") errors.push_back("asked for another property than Product");
  const auto& product = script.services.at(use(service, Kind::Service)->index).product;
  return product ? &make(*product) : nullptr;
}
CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options, int64_t timestamp) {
  if (type != 15 || options != 0 || timestamp != 0) errors.push_back("asked for another event than the temperature");
  const auto& reading = script.services.at(use(service, Kind::Service)->index).reading;
  return reading ? &make({.kind = Kind::Event, .real = *reading}) : nullptr;
}
double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field) {
  if (field != 0xF0000) errors.push_back("read another field than the temperature level");
  return use(event, Kind::Event)->value.real;
}

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (std::string(name) != "IOAccelerator") errors.push_back("matched another class than IOAccelerator");
  return script.matchingFails ? nullptr : reinterpret_cast<CFMutableDictionaryRef>(&make(dictionary({})));
}
// Like IOKit, it takes over the caller's reference to `matching`, whatever the outcome.
kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t* existing) {
  if (Object* dict = use(matching, Kind::Dictionary)) --dict->references;
  if (script.queryFails) return 1;
  *existing = make({.kind = Kind::Iterator}).handle;
  return KERN_SUCCESS;
}
io_object_t IOIteratorNext(io_iterator_t iterator) {
  Object* next = use(iterator, Kind::Iterator);
  if (next->index >= script.accelerators.size()) return IO_OBJECT_NULL;
  Object& accelerator = make({.kind = Kind::Entry});
  accelerator.index = next->index++;
  return accelerator.handle;
}
kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                CFAllocatorRef, IOOptionBits options) {
  if (options != 0) errors.push_back("properties copied with options");
  const Accelerator& accelerator = script.accelerators.at(use(entry, Kind::Entry)->index);
  if (accelerator.copy == Copy::Fails) return 1;
  Value table = dictionary({text("IOClass"), text("AGXAccelerator")});
  if (accelerator.statistics) table.items.insert(table.items.end(), {text("PerformanceStatistics"), *accelerator.statistics});
  *properties = accelerator.copy == Copy::Table ? reinterpret_cast<CFMutableDictionaryRef>(&make(table)) : nullptr;
  return KERN_SUCCESS;
}
kern_return_t IOObjectRelease(io_object_t object) {
  release(object ? &objects.at(object - 1) : nullptr);
  return KERN_SUCCESS;
}

}  // extern "C"

namespace {

// What a case left behind: every error, and every object handed to the walk
// that was not given back, but for one it keeps on purpose.
std::vector<std::string> ledgerAfter(std::size_t firstObject, const void* kept = nullptr) {
  std::vector<std::string> problems = errors;
  for (std::size_t i = firstObject; i < objects.size(); ++i) {
    const Object& object = objects[i];
    if (!object.owner && !object.constant && object.references > 0 && &object != kept)
      problems.push_back("object of kind " + std::to_string(static_cast<int>(object.value.kind)) + " never released");
  }
  errors.clear();
  return problems;
}

using Fact = std::pair<std::optional<std::string>, std::optional<double>>;

TEST(HidThermalWalk, YieldsEachServiceAndGivesBackEverythingOnEveryPath) {
  const struct {
    Script script;
    std::vector<Fact> facts;
  } cases[] = {
      {{.clientFails = true, .services = {{text("PMU tdie1"), 40.0}}}, {}},
      {{.servicesFail = true, .services = {{text("PMU tdie1"), 40.0}}}, {}},
      {{}, {}},
      {{.services = {{text("Température SoC"), 45.5}, {text("PMU tdev1"), std::nullopt}, {std::nullopt, 50.0},
                     {whole(7), 60.0}}},
       {{"Température SoC", 45.5}, {"PMU tdev1", std::nullopt}, {std::nullopt, std::nullopt}, {std::nullopt, std::nullopt}}},
  };
  for (const auto& c : cases) {
    script = c.script;
    const std::size_t first = objects.size();
    std::vector<Fact> facts;
    platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
      facts.emplace_back(name ? std::optional<std::string>(*name) : std::nullopt, reading);
    });
    EXPECT_EQ(facts, c.facts);
    // The matching dictionary is built once and kept for the run.
    EXPECT_EQ(ledgerAfter(first, matchingGiven.empty() ? nullptr : matchingGiven.front()), std::vector<std::string>{});
  }
  ASSERT_FALSE(matchingGiven.empty());
  EXPECT_EQ(std::vector<const void*>(matchingGiven.size(), matchingGiven.front()), matchingGiven);
}

TEST(AcceleratorWalk, YieldsEachTableOfStatisticsAndGivesBackEverythingOnEveryPath) {
  const StatsTable everyKind{{"Device Utilization %", std::int64_t{37}}, {"GPU Activity(%)", 0.6},
                             {"In use", true}, {"Idle", false}, {"GPU Core Utilization", std::string("42")},
                             {"Alloc system memory", StatOther{}}, {"SplitSceneCount", StatOther{}}};
  using Yield = std::pair<std::string, std::optional<StatsTable>>;
  const struct {
    Script script;
    std::vector<Yield> yielded;
  } cases[] = {
      {{.matchingFails = true, .accelerators = {{Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}}, {}},
      {{.queryFails = true, .accelerators = {{Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}}, {}},
      {{}, {}},
      {{.accelerators =
        {{Copy::Fails, dictionary({text("Device Utilization %"), whole(10)})},
         {Copy::GivesNothing, dictionary({text("Device Utilization %"), whole(20)})},
         {Copy::Table, std::nullopt},
         {Copy::Table, text("busy")},
         {Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}},
       {{"IOAccelerator", std::nullopt}, {"IOAccelerator", std::nullopt}, {"AGXAccelerator", std::nullopt},
        {"AGXAccelerator", std::nullopt}, {"AGXAccelerator", StatsTable{{"Device Utilization %", std::int64_t{37}}}}}},
      {{.accelerators =
        {{Copy::Table, dictionary({text("Device Utilization %"), whole(37), text("GPU Activity(%)"), real(0.6),
                                   text("In use"), flag(true), text("Idle"), flag(false),
                                   text("GPU Core Utilization"), text("42"), text("Alloc system memory"),
                                   {.kind = Kind::Number, .wide = true},  // wider than 64 bits
                                   text("SplitSceneCount"), {.kind = Kind::Array, .items = {whole(1)}},
                                   whole(7), whole(99)})}}},  // a key that is not text is left out
       {{"AGXAccelerator", everyKind}}},
  };
  for (const auto& c : cases) {
    script = c.script;
    const std::size_t first = objects.size();
    std::vector<Yield> yielded;
    platformWalkAccelerators([&](std::string_view name, const StatsTable* statistics) {
      yielded.emplace_back(name, statistics ? std::optional(*statistics) : std::nullopt);
    });
    EXPECT_EQ(yielded, c.yielded);
    EXPECT_EQ(ledgerAfter(first), std::vector<std::string>{});
  }
}

}  // namespace
