#include <deque>
#include <set>

#include "Standin.h"

namespace standin {

namespace {

struct Books {
  std::deque<Object> objects;  // never freed, so addresses stay unique
  std::set<const void*> known;
  std::size_t firstOfTest = 0;
  std::vector<std::string> errors;
  std::vector<std::string> trace;
};

Books& books() {
  static Books instance;
  return instance;
}

void drop(Object& object) {
  if (object.constant) return;
  if (object.references == 0) {
    error(object.label + " released again after it was gone");
    return;
  }
  if (--object.references > 0) return;
  for (Object* child : object.children) drop(*child);
}

bool reachable(const Object* from, const Object* target) {
  if (from == nullptr || from == target) return from != nullptr;
  for (const Object* child : from->children) {
    if (reachable(child, target)) return true;
  }
  return false;
}

}  // namespace

Object& make(Kind kind, std::string label, bool handedOut) {
  Object& object = books().objects.emplace_back();
  object.value.kind = kind;
  object.label = std::move(label);
  object.handedOut = handedOut;
  object.port = static_cast<std::uint32_t>(books().objects.size());
  books().known.insert(&object);
  return object;
}

Object& constant(Kind kind, std::string label) {
  Object& object = make(kind, std::move(label), false);
  object.constant = true;
  return object;
}

Object& build(const Value& value, const std::string& label, bool handedOut) {
  if (value.kind == Kind::Boolean) {  // the two constants, as in Core Foundation
    static Object& no = constant(Kind::Boolean, "kCFBooleanFalse");
    static Object& yes = constant(Kind::Boolean, "kCFBooleanTrue");
    yes.value.integer = 1;
    return value.integer != 0 ? yes : no;
  }
  Object& object = make(value.kind, label, handedOut);
  object.value = value;
  for (std::size_t i = 0; i < value.items.size(); ++i) {
    object.children.push_back(&build(value.items[i], label + "[" + std::to_string(i) + "]", false));
  }
  return object;
}

Object* find(const void* ref, const char* operation) {
  const std::string where(operation);
  if (books().known.count(ref) == 0) {
    error(where + (ref == nullptr ? " given null" : " on an object the stand-in never made"));
    return nullptr;
  }
  auto& object = *static_cast<Object*>(const_cast<void*>(ref));
  if (object.references == 0) {
    error(where + " on " + object.label + " after it was released");
    return nullptr;
  }
  return &object;
}

Object* find(const void* ref, Kind kind, const char* operation) {
  Object* object = find(ref, operation);
  if (object != nullptr && object->value.kind != kind) {
    error(std::string(operation) + " given " + object->label + ", an object of another type");
    return nullptr;
  }
  return object;
}

const void* address(std::uint32_t handle) {
  if (handle != 0 && handle <= books().objects.size()) return &books().objects[handle - 1];
  return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(handle));  // reported as never made
}

void release(const void* ref, const char* operation) {
  Object* object = find(ref, operation);
  if (object == nullptr) return;
  note("release " + object->label);
  ++object->callerReleases;
  if (object->constant) {
    error("released " + object->label + ", a constant the caller does not own");
    return;
  }
  drop(*object);
}

void consume(Object& object) {
  object.handedOut = false;
  drop(object);
}

void error(std::string message) { books().errors.push_back(std::move(message)); }
void note(std::string entry) { books().trace.push_back(std::move(entry)); }

void begin() {
  books().errors.clear();
  books().trace.clear();
  books().firstOfTest = books().objects.size();
}

const std::vector<std::string>& errors() { return books().errors; }
const std::vector<std::string>& trace() { return books().trace; }

std::vector<std::string> unbalanced(const void* kept) {
  const Object* keptRoot = books().known.count(kept) != 0 ? static_cast<const Object*>(kept) : nullptr;
  std::vector<std::string> problems;
  for (std::size_t i = books().firstOfTest; i < books().objects.size(); ++i) {
    const Object& object = books().objects[i];
    if (object.constant) continue;
    if (object.handedOut && &object != keptRoot && object.callerReleases != 1) {
      problems.push_back(object.label + " released " + std::to_string(object.callerReleases) + " times");
    } else if (!object.handedOut && object.callerReleases > 0) {
      problems.push_back(object.label + " released by the caller, which never owned it");
    } else if (object.references > 0 && !reachable(keptRoot, &object)) {
      problems.push_back(object.label + " still alive");
    }
  }
  return problems;
}

}  // namespace standin
