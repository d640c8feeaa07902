#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The stand-in's bookkeeping: every object that the fake Core Foundation and
// IOKit hand out, its reference count, who owns it, and every misuse. Objects
// are never freed, so a late release or use is caught instead of crashing.
namespace standin {

enum class Kind { String, Number, Boolean, Array, Dictionary, HidClient, HidService, HidEvent, Iterator, RegistryEntry };

struct Object {
  Kind kind;
  std::string label;           // names it in traces and reports
  bool constant = false;       // CFSTR strings and the booleans: nobody owns them
  int references = 1;          // CF retain count; 0 = gone
  bool handedOut = false;      // returned to the caller by a Create or Copy call
  int callerReleases = 0;      // CFRelease / IOObjectRelease calls made by the caller
  bool holdsChildren = true;     // false: the children were put in without a reference
  std::vector<Object*> children;  // array items, or dictionary keys and values in pairs
  std::string text;
  std::int64_t integer = 0;
  double real = 0.0;
  bool isFloat = false;
  bool fitsInt64 = true;  // false models a count wider than 64 bits
  bool boolean = false;
  long numberType = 0;
  std::size_t scriptIndex = 0;   // services, events, accelerators: their place in the script
  std::uint32_t port = 0;        // IOKit objects only: the handle the caller sees
};

class Ledger {
 public:
  Object& create(Kind kind, std::string label);    // made by the stand-in for a container to hold
  Object& handOut(Kind kind, std::string label);   // returned to the caller, who must release it
  Object& constant(Kind kind, std::string label);  // lives for the whole run; nobody releases it

  void contain(Object& container, Object& child);   // child's first reference passes to container
  void retainInto(Object& container, Object& child);  // container takes a further reference
  void borrowInto(Object& container, Object& child);  // container holds child without a reference

  // The live object behind a reference, or null after recording the misuse.
  Object* find(const void* ref, const char* operation);
  Object* findKind(const void* ref, Kind kind, const char* operation);
  Object* findPort(std::uint32_t port, const char* operation);

  // A CFRelease or IOObjectRelease from the code under test. False when the
  // reference was not one the caller could release.
  bool releaseByCaller(const void* ref, const char* operation);
  bool releasePortByCaller(std::uint32_t port, const char* operation);
  void consume(Object& object);          // a call that takes over the caller's reference

  void error(std::string message) { errors_.push_back(std::move(message)); }
  void note(std::string entry) { trace_.push_back(std::move(entry)); }

  // Starts a test: clears errors and trace and forgets earlier objects for checks.
  void begin();
  const std::vector<std::string>& errors() const { return errors_; }
  const std::vector<std::string>& trace() const { return trace_; }

  // Objects made since begin() that were not released exactly once by the
  // caller, or are still alive. Objects reachable from `kept`, which the code
  // keeps on purpose, are exempt.
  std::vector<std::string> unbalanced(const void* kept = nullptr) const;

 private:
  Object& make(Kind kind, std::string label);
  bool release(Object& object);
  void drop(Object& object);
  bool reachable(const Object* from, const Object* target) const;

  std::deque<Object> objects_;
  std::map<const void*, Object*> byAddress_;
  std::map<std::uint32_t, Object*> byPort_;
  std::size_t firstOfTest_ = 0;
  std::uint32_t nextPort_ = 0x1001;
  std::vector<std::string> errors_;
  std::vector<std::string> trace_;
};

Ledger& ledger();

// CF references are the ledger's objects themselves.
template <typename Ref>
Ref ref(Object& object) {
  return reinterpret_cast<Ref>(&object);
}

}  // namespace standin
