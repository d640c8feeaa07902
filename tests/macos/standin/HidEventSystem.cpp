// The fake HID event system: a client that lists the scripted services, each
// with its name and temperature event.

#include <limits>
#include <string>

#include "HidPrivate.h"
#include "HidScript.h"
#include "Ledger.h"

using standin::hidScript;
using standin::Kind;
using standin::ledger;
using standin::Object;

namespace {

constexpr int64_t kTemperatureEventType = 15;
constexpr int32_t kTemperatureLevelField = 0xF0000;

std::string place(const Object& service) { return "#" + std::to_string(service.scriptIndex); }

}  // namespace

namespace standin {
HidScript& hidScript() {
  static HidScript script;
  return script;
}
}  // namespace standin

extern "C" {

IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef) {
  ledger().note("create client");
  if (hidScript().clientFails) return nullptr;
  return standin::ref<IOHIDEventSystemClientRef>(ledger().handOut(Kind::HidClient, "client"));
}

int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching) {
  ledger().note("set matching");
  ledger().findKind(client, Kind::HidClient, "IOHIDEventSystemClientSetMatching");
  ledger().findKind(matching, Kind::Dictionary, "IOHIDEventSystemClientSetMatching matching");
  hidScript().matchingGiven.push_back(matching);
  return 0;
}

CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client) {
  ledger().note("copy services");
  if (ledger().findKind(client, Kind::HidClient, "IOHIDEventSystemClientCopyServices") == nullptr) return nullptr;
  if (hidScript().servicesFail) return nullptr;
  Object& list = ledger().handOut(Kind::Array, "services");
  for (std::size_t i = 0; i < hidScript().services.size(); ++i) {
    Object& service = ledger().create(Kind::HidService, "service#" + std::to_string(i));
    service.scriptIndex = i;
    ledger().contain(list, service);
  }
  return standin::ref<CFArrayRef>(list);
}

CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key) {
  const Object* owner = ledger().findKind(service, Kind::HidService, "IOHIDServiceClientCopyProperty");
  const Object* name = ledger().findKind(key, Kind::String, "IOHIDServiceClientCopyProperty key");
  if (owner == nullptr || name == nullptr) return nullptr;
  ledger().note("copy name" + place(*owner));
  if (name->text != "Product") {
    ledger().error("asked for property \"" + name->text + "\" instead of \"Product\"");
    return nullptr;
  }
  const auto& product = hidScript().services[owner->scriptIndex].product;
  if (!product) return nullptr;
  Object& copy = standin::build(*product, "name" + place(*owner));
  copy.handedOut = true;
  return &copy;
}

CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options,
                                      int64_t timestamp) {
  const Object* owner = ledger().findKind(service, Kind::HidService, "IOHIDServiceClientCopyEvent");
  if (owner == nullptr) return nullptr;
  ledger().note("copy event" + place(*owner));
  if (type != kTemperatureEventType || options != 0 || timestamp != 0) {
    ledger().error("IOHIDServiceClientCopyEvent asked for something other than the current temperature event");
    return nullptr;
  }
  const auto& reading = hidScript().services[owner->scriptIndex].reading;
  if (!reading) return nullptr;
  Object& event = ledger().handOut(Kind::HidEvent, "event" + place(*owner));
  event.scriptIndex = owner->scriptIndex;
  event.real = *reading;
  return &event;
}

double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field) {
  const Object* object = ledger().findKind(event, Kind::HidEvent, "IOHIDEventGetFloatValue");
  if (object == nullptr) return std::numeric_limits<double>::quiet_NaN();
  ledger().note("read event" + place(*object));
  if (field != kTemperatureLevelField) {
    ledger().error("IOHIDEventGetFloatValue asked for a field other than the temperature level");
    return std::numeric_limits<double>::quiet_NaN();
  }
  return object->real;
}

}  // extern "C"
