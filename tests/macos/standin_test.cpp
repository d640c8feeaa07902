// The stand-in must catch the faults the walks' tests rely on it to catch;
// otherwise their balance checks would prove nothing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include "HidPrivate.h"
#include "Standin.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

CFNumberRef newNumber(int value) { return CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &value); }

TEST(Standin, ReportsLeaksDoubleAndForeignReleases) {
  standin::hid = {false, false, {{standin::text("PMU tdie1"), 40.0}}, {}};
  standin::begin();
  newNumber(1);
  const CFNumberRef twice = newNumber(2);
  CFRelease(twice);
  CFRelease(twice);
  CFRelease(CFSTR("Product"));
  IOObjectRelease(12345);
  const IOHIDEventSystemClientRef client = IOHIDEventSystemClientCreate(kCFAllocatorDefault);
  const CFArrayRef services = IOHIDEventSystemClientCopyServices(client);
  CFRelease(CFArrayGetValueAtIndex(services, 0));  // belongs to the list
  CFRelease(services);
  CFRelease(client);
  EXPECT_THAT(standin::unbalanced(), ElementsAre("number 1 released 0 times",
                                                 "service#0 released by the caller, which never owned it"));
  EXPECT_THAT(standin::errors(), ElementsAre(HasSubstr("number 2 after it was released"),
                                             HasSubstr("a constant the caller does not own"),
                                             HasSubstr("never made"), HasSubstr("released again after it was gone")));
}

}  // namespace
