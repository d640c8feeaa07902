// The macOS accelerators: every IORegistry service of class "IOAccelerator",
// named by its driver's class, with its "PerformanceStatistics" dictionary
// converted into the portable statistics table in the dictionary's own order.

#include "platform/SensorPlatform.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CFText.h"
#include "Owned.h"

namespace {

StatValue numberValue(CFNumberRef number) {
  if (CFNumberIsFloatType(number)) {
    double real = 0.0;
    CFNumberGetValue(number, kCFNumberFloat64Type, &real);  // exact for every floating type
    return real;
  }
  std::int64_t integer = 0;
  if (CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) return integer;
  return StatOther{};  // wider than 64 bits: no figure we could trust
}

// `value` is borrowed from the statistics dictionary.
StatValue statValue(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFNumberGetTypeID()) return numberValue(static_cast<CFNumberRef>(value));
  if (type == CFBooleanGetTypeID()) return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
  if (std::optional<std::string> text = utf8Text(value)) return std::move(*text);
  return StatOther{};
}

// Keys that are not text cannot be named by any rule, so they are left out.
StatsTable statsTable(CFDictionaryRef statistics) {
  const auto count = static_cast<std::size_t>(CFDictionaryGetCount(statistics));
  std::vector<const void*> keys(count);    // borrowed from `statistics`
  std::vector<const void*> values(count);  // borrowed from `statistics`
  CFDictionaryGetKeysAndValues(statistics, keys.data(), values.data());
  StatsTable table;
  for (std::size_t i = 0; i < count; ++i) {
    if (std::optional<std::string> key = utf8Text(keys[i])) table.emplace_back(std::move(*key), statValue(values[i]));
  }
  return table;
}

// The accelerator's class (its driver's name), and its statistics, or none
// where the properties cannot be copied or hold no statistics dictionary.
std::pair<std::string, std::optional<StatsTable>> describe(io_registry_entry_t accelerator) {
  const std::string unnamed = "IOAccelerator";
  CFMutableDictionaryRef copied = nullptr;
  const kern_return_t result = IORegistryEntryCreateCFProperties(accelerator, &copied, kCFAllocatorDefault, 0);
  const CFOwned<CFMutableDictionaryRef> properties(copied);  // owned whatever the result says
  if (result != KERN_SUCCESS || !properties) return {unnamed, std::nullopt};
  // Both borrowed from `properties`, which outlives every use of them.
  std::string name = utf8Text(CFDictionaryGetValue(properties.get(), CFSTR("IOClass"))).value_or(unnamed);
  const CFTypeRef statistics = CFDictionaryGetValue(properties.get(), CFSTR("PerformanceStatistics"));
  if (statistics == nullptr || CFGetTypeID(statistics) != CFDictionaryGetTypeID()) return {name, std::nullopt};
  return {name, statsTable(static_cast<CFDictionaryRef>(statistics))};
}

}  // namespace

void platformWalkAccelerators(const AcceleratorYield& yield) {
  const CFMutableDictionaryRef matching = IOServiceMatching("IOAccelerator");
  if (matching == nullptr) return;
  io_iterator_t found = IO_OBJECT_NULL;
  // The query takes over `matching` on every path, so it is never released here.
  const kern_return_t result = IOServiceGetMatchingServices(kIOMainPortDefault, matching, &found);
  const IOOwned iterator(found);
  if (result != KERN_SUCCESS || !iterator) return;
  while (const IOOwned accelerator{IOIteratorNext(iterator.get())}) {
    const auto [name, statistics] = describe(accelerator.get());
    yield(name, statistics ? &*statistics : nullptr);
  }
}
