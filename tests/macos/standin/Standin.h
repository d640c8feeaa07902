#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The stand-in's bookkeeping and scripts. Every object that the fake Core
// Foundation and IOKit make is kept for the whole run with its reference count
// and the releases the caller made, so a late use or release is reported
// instead of crashing.
namespace standin {

enum class Kind { String, Number, Boolean, Array, Dictionary, Client, Service, Event, Iterator, Entry };

// A scripted value, built afresh into counted objects each time it is handed out.
struct Value {
  Kind kind = Kind::Number;
  std::int64_t integer = 0;  // booleans: 0 or 1
  double real = 0.0;         // also an event's reading
  bool isFloat = false;
  bool fitsInt64 = true;     // false: a count wider than 64 bits
  std::string text;
  std::vector<Value> items;  // array items, or dictionary keys and values in turn
};

inline Value integer(std::int64_t v) { return {Kind::Number, v, 0.0, false, true, {}, {}}; }
inline Value real(double v) { return {Kind::Number, 0, v, true, true, {}, {}}; }
inline Value wideInteger() { return {Kind::Number, 0, 0.0, false, false, {}, {}}; }
inline Value boolean(bool v) { return {Kind::Boolean, v ? 1 : 0, 0.0, false, true, {}, {}}; }
inline Value text(std::string v) { return {Kind::String, 0, 0.0, false, true, std::move(v), {}}; }
inline Value list(std::vector<Value> items) { return {Kind::Array, 0, 0.0, false, true, {}, std::move(items)}; }
inline Value dictionary(std::vector<Value> keysAndValues) {
  return {Kind::Dictionary, 0, 0.0, false, true, {}, std::move(keysAndValues)};
}

struct Object {
  Value value;  // its kind and contents; `value.items` live on as `children`
  std::string label;
  bool constant = false;   // CFSTR strings and the booleans: nobody owns them
  bool handedOut = false;  // returned by a Create or Copy call: the caller releases it once
  int references = 1;      // 0: gone
  int callerReleases = 0;
  std::size_t index = 0;   // place in the script; an iterator's next position
  std::uint32_t port = 0;  // the handle IOKit callers see
  std::vector<Object*> children;
};

Object& make(Kind kind, std::string label, bool handedOut);
Object& constant(Kind kind, std::string label);
Object& build(const Value& value, const std::string& label, bool handedOut);  // children held by it

// The live object behind a reference, or null after recording the misuse.
Object* find(const void* ref, const char* operation);
Object* find(const void* ref, Kind kind, const char* operation);
const void* address(std::uint32_t handle);  // of the object behind an IOKit handle

void release(const void* ref, const char* operation);  // by the code under test
void consume(Object& object);  // a call that takes over the caller's reference

void error(std::string message);
void note(std::string entry);

// Starts a test: clears errors and trace and checks only objects made from now on.
void begin();
const std::vector<std::string>& errors();
const std::vector<std::string>& trace();
// Objects not released exactly once by the caller, or still alive. What is
// reachable from `kept`, which the code keeps on purpose, may stay alive.
std::vector<std::string> unbalanced(const void* kept = nullptr);

struct Service {
  std::optional<Value> product;   // none: no "Product"
  std::optional<double> reading;  // none: no current temperature event
};

struct HidScript {
  bool clientFails = false;
  bool servicesFail = false;
  std::vector<Service> services;
  std::vector<const void*> matchingGiven;  // each dictionary passed to SetMatching
};

enum class PropertyCopy { Table, Fails, GivesNothing };

struct Accelerator {
  PropertyCopy copy = PropertyCopy::Table;
  std::optional<Value> statistics;  // none: no "PerformanceStatistics"
};

struct RegistryScript {
  bool matchingFails = false;
  bool queryFails = false;
  std::vector<Accelerator> accelerators;
};

extern HidScript hid;
extern RegistryScript registry;

}  // namespace standin
