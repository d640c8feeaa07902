#include "Ledger.h"

namespace standin {

Ledger& ledger() {
  static Ledger instance;
  return instance;
}

Object& Ledger::make(Kind kind, std::string label) {
  Object& object = objects_.emplace_back();
  object.kind = kind;
  object.label = std::move(label);
  byAddress_[&object] = &object;
  if (kind == Kind::Iterator || kind == Kind::RegistryEntry) {
    object.port = nextPort_++;
    byPort_[object.port] = &object;
  }
  return object;
}

Object& Ledger::create(Kind kind, std::string label) { return make(kind, std::move(label)); }

Object& Ledger::handOut(Kind kind, std::string label) {
  Object& object = make(kind, std::move(label));
  object.handedOut = true;
  return object;
}

Object& Ledger::constant(Kind kind, std::string label) {
  Object& object = make(kind, std::move(label));
  object.constant = true;
  return object;
}

void Ledger::contain(Object& container, Object& child) { container.children.push_back(&child); }

void Ledger::retainInto(Object& container, Object& child) {
  if (!child.constant) ++child.references;
  container.children.push_back(&child);
}

void Ledger::borrowInto(Object& container, Object& child) {
  container.holdsChildren = false;
  container.children.push_back(&child);
}

Object* Ledger::find(const void* ref, const char* operation) {
  if (ref == nullptr) {
    error(std::string(operation) + " given null");
    return nullptr;
  }
  const auto known = byAddress_.find(ref);
  if (known == byAddress_.end()) {
    error(std::string(operation) + " on an object the stand-in never made");
    return nullptr;
  }
  Object& object = *known->second;
  if (!object.constant && object.references == 0) {
    error(std::string(operation) + " on " + object.label + " after it was released");
    return nullptr;
  }
  return &object;
}

Object* Ledger::findKind(const void* ref, Kind kind, const char* operation) {
  Object* object = find(ref, operation);
  if (object != nullptr && object->kind != kind) {
    error(std::string(operation) + " given " + object->label + ", an object of another type");
    return nullptr;
  }
  return object;
}

Object* Ledger::findPort(std::uint32_t port, const char* operation) {
  const auto known = byPort_.find(port);
  if (known == byPort_.end()) {
    error(std::string(operation) + " on handle " + std::to_string(port) + ", which the stand-in never made");
    return nullptr;
  }
  return find(known->second, operation);
}

void Ledger::drop(Object& object) {
  if (object.constant) return;
  if (object.references == 0) {
    error(object.label + " released again after it was gone");
    return;
  }
  if (--object.references > 0) return;
  if (!object.holdsChildren) return;
  for (Object* child : object.children) drop(*child);
}

bool Ledger::releaseByCaller(const void* ref, const char* operation) {
  if (ref == nullptr) {
    error(std::string(operation) + " given null");
    return false;
  }
  const auto known = byAddress_.find(ref);
  if (known == byAddress_.end()) {
    error(std::string(operation) + " on an object the stand-in never made");
    return false;
  }
  return release(*known->second);
}

bool Ledger::releasePortByCaller(std::uint32_t port, const char* operation) {
  const auto known = byPort_.find(port);
  if (known == byPort_.end()) {
    error(std::string(operation) + " on handle " + std::to_string(port) + ", which the stand-in never made");
    return false;
  }
  return release(*known->second);
}

bool Ledger::release(Object& object) {
  note("release " + object.label);
  ++object.callerReleases;
  if (object.constant) {
    error("released " + object.label + ", a constant the caller does not own");
    return false;
  }
  if (object.references == 0) {
    error("released " + object.label + " after it was released");
    return false;
  }
  drop(object);
  return true;
}

void Ledger::consume(Object& object) {
  object.handedOut = false;
  drop(object);
}

void Ledger::begin() {
  errors_.clear();
  trace_.clear();
  firstOfTest_ = objects_.size();
}

bool Ledger::reachable(const Object* from, const Object* target) const {
  if (from == nullptr) return false;
  if (from == target) return true;
  for (const Object* child : from->children) {
    if (reachable(child, target)) return true;
  }
  return false;
}

std::vector<std::string> Ledger::unbalanced(const void* kept) const {
  const auto keptObject = byAddress_.find(kept);
  const Object* keptRoot = keptObject == byAddress_.end() ? nullptr : keptObject->second;
  std::vector<std::string> problems;
  for (std::size_t i = firstOfTest_; i < objects_.size(); ++i) {
    const Object& object = objects_[i];
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
