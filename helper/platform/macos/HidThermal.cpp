// The macOS temperature services: IOKit's HID event system, matched on Apple's
// vendor page and its temperature-sensor usage. Each service yields its
// "Product" name and the level of its current temperature event.

#include "platform/SensorPlatform.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hid/IOHIDKeys.h>
#include <IOKit/hidsystem/IOHIDEventSystemClient.h>
#include <IOKit/hidsystem/IOHIDServiceClient.h>

#include <cstdint>
#include <optional>
#include <string>

#include "CFText.h"
#include "Owned.h"

// The SDK keeps these four private. An event is a Core Foundation object whose
// type has no public name, so it is handled as a plain CFTypeRef.
extern "C" {
IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef allocator);
int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching);
CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options, int64_t timestamp);
double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field);
}

namespace {

// IOKit's kHIDPage_AppleVendor, kHIDUsage_AppleVendor_TemperatureSensor,
// kIOHIDEventTypeTemperature and kIOHIDEventFieldTemperatureLevel, whose
// headers are not all part of the public SDK.
constexpr int kAppleVendorUsagePage = 0xFF00;
constexpr int kTemperatureSensorUsage = 5;
constexpr int64_t kTemperatureEventType = 15;
constexpr int32_t kTemperatureLevelField = static_cast<int32_t>(kTemperatureEventType << 16);

CFDictionaryRef createTemperatureMatching() {
  const CFOwned<CFNumberRef> page(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &kAppleVendorUsagePage));
  const CFOwned<CFNumberRef> usage(CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &kTemperatureSensorUsage));
  const void* keys[] = {CFSTR(kIOHIDPrimaryUsagePageKey), CFSTR(kIOHIDPrimaryUsageKey)};
  const void* values[] = {page.get(), usage.get()};
  // The dictionary retains both numbers, so our own references go at scope end.
  return CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                            &kCFTypeDictionaryValueCallBacks);
}

// Built on first use and kept, never released, for the life of the process:
// it is constant and every walk shares it read-only.
CFDictionaryRef temperatureMatching() {
  static const CFDictionaryRef matching = createTemperatureMatching();
  return matching;
}

// The event is released as soon as its level has been read.
std::optional<double> currentReading(IOHIDServiceClientRef service) {
  const CFOwned<CFTypeRef> event(IOHIDServiceClientCopyEvent(service, kTemperatureEventType, 0, 0));
  if (!event) return std::nullopt;
  return IOHIDEventGetFloatValue(event.get(), kTemperatureLevelField);
}

// A service whose "Product" is missing or is not text has no name, and its event
// is not asked for. The name is released once the service has been handled.
void yieldService(IOHIDServiceClientRef service, const ThermalYield& yield) {
  const CFOwned<CFTypeRef> product(IOHIDServiceClientCopyProperty(service, CFSTR(kIOHIDProductKey)));
  const std::optional<std::string> name = utf8Text(product.get());
  if (!name) {
    yield(std::nullopt, std::nullopt);
    return;
  }
  yield(*name, currentReading(service));
}

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  const CFOwned<IOHIDEventSystemClientRef> client(IOHIDEventSystemClientCreate(kCFAllocatorDefault));
  if (!client) return;
  // A failed match leaves the list empty or wider; either way the walk below copes.
  IOHIDEventSystemClientSetMatching(client.get(), temperatureMatching());
  const CFOwned<CFArrayRef> services(IOHIDEventSystemClientCopyServices(client.get()));
  if (!services) return;
  const CFIndex count = CFArrayGetCount(services.get());
  for (CFIndex index = 0; index < count; ++index) {
    // Borrowed: the list owns its services and keeps them valid while we hold it.
    const auto service =
        static_cast<IOHIDServiceClientRef>(const_cast<void*>(CFArrayGetValueAtIndex(services.get(), index)));
    yieldService(service, yield);
  }
}
