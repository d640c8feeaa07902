// The fake IOKit: a HID event system that lists the scripted temperature
// services, and an I/O registry that serves the scripted accelerators.

#include <IOKit/IOKitLib.h>

#include <limits>

#include "HidPrivate.h"
#include "Standin.h"

using standin::find;
using standin::hid;
using standin::Kind;
using standin::note;
using standin::Object;
using standin::registry;

namespace standin {
HidScript hid;
RegistryScript registry;
}  // namespace standin

namespace {

std::string place(const Object& object) { return "#" + std::to_string(object.index); }

}  // namespace

extern "C" {

IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
  note("create client");
  if (hid.clientFails) return nullptr;
  return reinterpret_cast<IOHIDEventSystemClientRef>(&standin::make(Kind::Client, "client", true));
}

int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching) {
  note("set matching");
  find(client, Kind::Client, "IOHIDEventSystemClientSetMatching");
  find(matching, Kind::Dictionary, "IOHIDEventSystemClientSetMatching matching");
  hid.matchingGiven.push_back(matching);
  return 0;
}

CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client) {
  note("copy services");
  if (find(client, Kind::Client, "IOHIDEventSystemClientCopyServices") == nullptr || hid.servicesFail) return nullptr;
  Object& list = standin::make(Kind::Array, "services", true);
  for (std::size_t i = 0; i < hid.services.size(); ++i) {
    Object& service = standin::make(Kind::Service, "service#" + std::to_string(i), false);
    service.index = i;
    list.children.push_back(&service);
  }
  return reinterpret_cast<CFArrayRef>(&list);
}

CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
  const Object* owner = find(service, Kind::Service, "IOHIDServiceClientCopyProperty");
  const Object* name = find(key, Kind::String, "IOHIDServiceClientCopyProperty key");
  if (owner == nullptr || name == nullptr) return nullptr;
  note("copy name" + place(*owner));
  if (name->value.text != "Product") standin::error("asked for property \"" + name->value.text + "\"");
  const auto& product = hid.services[owner->index].product;
  return product ? &standin::build(*product, "name" + place(*owner), true) : nullptr;
}

CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options,
                                      int64_t timestamp) {
  const Object* owner = find(service, Kind::Service, "IOHIDServiceClientCopyEvent");
  if (owner == nullptr) return nullptr;
  note("copy event" + place(*owner));
  if (type != 15 || options != 0 || timestamp != 0) standin::error("asked for another event than the temperature");
  const auto& reading = hid.services[owner->index].reading;
  if (!reading) return nullptr;
  Object& event = standin::make(Kind::Event, "event" + place(*owner), true);
  event.index = owner->index;
  event.value.real = *reading;
  return &event;
}

double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field) {
  const Object* object = find(event, Kind::Event, "IOHIDEventGetFloatValue");
  if (object == nullptr) return std::numeric_limits<double>::quiet_NaN();
  note("read event" + place(*object));
  if (field != 0xF0000) standin::error("IOHIDEventGetFloatValue asked for another field than the level");
  return object->value.real;
}

const mach_port_t kIOMainPortDefault = 0;

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  note(std::string("match ") + name);
  if (registry.matchingFails) return nullptr;
  const auto matching = standin::dictionary({standin::text("IOProviderClass"), standin::text(name)});
  return reinterpret_cast<CFMutableDictionaryRef>(&standin::build(matching, "matching", true));
}

// Like IOKit, it takes over the caller's reference to `matching` whatever the outcome.
kern_return_t IOServiceGetMatchingServices(mach_port_t mainPort, CFDictionaryRef matching, io_iterator_t* existing) {
  note("query");
  if (mainPort != kIOMainPortDefault) standin::error("IOServiceGetMatchingServices given another port");
  Object* description = find(matching, Kind::Dictionary, "IOServiceGetMatchingServices");
  if (description != nullptr) standin::consume(*description);
  if (description == nullptr || registry.queryFails) return kIOReturnError;
  *existing = standin::make(Kind::Iterator, "iterator", true).port;
  return KERN_SUCCESS;
}

// The iterator's index is the next accelerator to hand out.
io_object_t IOIteratorNext(io_iterator_t iterator) {
  Object* position = find(standin::address(iterator), Kind::Iterator, "IOIteratorNext");
  if (position == nullptr || position->index >= registry.accelerators.size()) {
    note("next: none");
    return IO_OBJECT_NULL;
  }
  Object& accelerator = standin::make(Kind::Entry, "accelerator#" + std::to_string(position->index), true);
  accelerator.index = position->index++;
  note("next: " + accelerator.label);
  return accelerator.port;
}

kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                CFAllocatorRef, IOOptionBits options) {
  const Object* accelerator = find(standin::address(entry), Kind::Entry, "IORegistryEntryCreateCFProperties");
  if (accelerator == nullptr) return kIOReturnBadArgument;
  note("copy properties" + place(*accelerator));
  if (options != 0) standin::error("IORegistryEntryCreateCFProperties given options");
  const standin::Accelerator& script = registry.accelerators[accelerator->index];
  if (script.copy == standin::PropertyCopy::Fails) return kIOReturnError;
  *properties = nullptr;
  if (script.copy == standin::PropertyCopy::GivesNothing) return KERN_SUCCESS;
  auto table = standin::dictionary({standin::text("IOClass"), standin::text("AGXAccelerator")});
  if (script.statistics) {
    table.items.insert(table.items.end(), {standin::text("PerformanceStatistics"), *script.statistics});
  }
  Object& copy = standin::build(table, "properties" + place(*accelerator), true);
  *properties = reinterpret_cast<CFMutableDictionaryRef>(&copy);
  return KERN_SUCCESS;
}

kern_return_t IOObjectRelease(io_object_t object) {
  standin::release(standin::address(object), "IOObjectRelease");
  return KERN_SUCCESS;
}

}  // extern "C"
