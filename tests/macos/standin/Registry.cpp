// The fake I/O registry: a query for the scripted accelerators, an iterator over
// them and a fresh property table per copy.

#include <IOKit/IOKitLib.h>

#include <string>

#include "Ledger.h"
#include "RegistryScript.h"

using standin::Kind;
using standin::ledger;
using standin::Object;
using standin::registryScript;
using standin::textValue;

namespace {

std::string place(const Object& object) { return "#" + std::to_string(object.scriptIndex); }

Object* ioObject(io_object_t handle, Kind kind, const char* operation) {
  Object* object = ledger().findPort(handle, operation);
  if (object != nullptr && object->kind != kind) {
    ledger().error(std::string(operation) + " given " + object->label + ", an object of another type");
    return nullptr;
  }
  return object;
}

Object& propertyTable(const Object& accelerator) {
  Object& table = ledger().handOut(Kind::Dictionary, "properties" + place(accelerator));
  const auto& statistics = registryScript().accelerators[accelerator.scriptIndex].statistics;
  ledger().contain(table, standin::build(textValue("IOClass"), "IOClass key"));
  ledger().contain(table, standin::build(textValue("AGXAccelerator"), "IOClass value"));
  if (statistics) {
    ledger().contain(table, standin::build(textValue("PerformanceStatistics"), "statistics key"));
    ledger().contain(table, standin::build(*statistics, "statistics" + place(accelerator)));
  }
  return table;
}

}  // namespace

namespace standin {
RegistryScript& registryScript() {
  static RegistryScript script;
  return script;
}
}  // namespace standin

extern "C" {

const mach_port_t kIOMainPortDefault = 0;

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  ledger().note(std::string("match ") + name);
  registryScript().classesMatched.emplace_back(name);
  if (registryScript().matchingFails) return nullptr;
  Object& matching = ledger().handOut(Kind::Dictionary, "matching");
  ledger().contain(matching, standin::build(textValue("IOProviderClass"), "IOProviderClass key"));
  ledger().contain(matching, standin::build(textValue(name), "IOProviderClass value"));
  return standin::ref<CFMutableDictionaryRef>(matching);
}

// Like IOKit, it takes over the caller's reference to `matching` whatever the outcome.
kern_return_t IOServiceGetMatchingServices(mach_port_t mainPort, CFDictionaryRef matching, io_iterator_t* existing) {
  ledger().note("query");
  if (mainPort != kIOMainPortDefault) ledger().error("IOServiceGetMatchingServices given a port other than the default");
  Object* description = ledger().findKind(matching, Kind::Dictionary, "IOServiceGetMatchingServices");
  if (description != nullptr) ledger().consume(*description);
  if (description == nullptr || registryScript().queryFails) return kIOReturnError;
  Object& iterator = ledger().handOut(Kind::Iterator, "iterator");
  *existing = iterator.port;
  return KERN_SUCCESS;
}

// The iterator's scriptIndex is its position: the next accelerator to hand out.
io_object_t IOIteratorNext(io_iterator_t iterator) {
  Object* position = ioObject(iterator, Kind::Iterator, "IOIteratorNext");
  if (position == nullptr) return IO_OBJECT_NULL;
  if (position->scriptIndex >= registryScript().accelerators.size()) {
    ledger().note("next: none");
    return IO_OBJECT_NULL;
  }
  Object& accelerator = ledger().handOut(Kind::RegistryEntry, "accelerator#" + std::to_string(position->scriptIndex));
  accelerator.scriptIndex = position->scriptIndex++;
  ledger().note("next: " + accelerator.label);
  return accelerator.port;
}

kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                CFAllocatorRef, IOOptionBits options) {
  const Object* accelerator = ioObject(entry, Kind::RegistryEntry, "IORegistryEntryCreateCFProperties");
  if (accelerator == nullptr) return kIOReturnBadArgument;
  ledger().note("copy properties" + place(*accelerator));
  if (options != 0) ledger().error("IORegistryEntryCreateCFProperties given options");
  switch (registryScript().accelerators[accelerator->scriptIndex].copy) {
    case standin::PropertyCopy::Fails:
      return kIOReturnError;
    case standin::PropertyCopy::GivesNothing:
      *properties = nullptr;
      return KERN_SUCCESS;
    case standin::PropertyCopy::Table:
      break;
  }
  *properties = standin::ref<CFMutableDictionaryRef>(propertyTable(*accelerator));
  return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
  return ledger().releasePortByCaller(object, "IOObjectRelease") ? KERN_SUCCESS : kIOReturnBadArgument;
}

}  // extern "C"
