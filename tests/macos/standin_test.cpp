// The stand-in must catch the faults the walks' tests rely on it to catch;
// otherwise their balance checks would prove nothing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#include "HidPrivate.h"
#include "HidScript.h"
#include "Ledger.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

class Standin : public testing::Test {
 protected:
  void SetUp() override {
    standin::hidScript() = {};
    standin::ledger().begin();
  }
  void TearDown() override { standin::ledger().begin(); }
};

CFNumberRef newNumber(int value) { return CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &value); }

TEST_F(Standin, CountsOneReleaseOfEachCreatedObjectAsBalanced) {
  CFRelease(newNumber(1));
  EXPECT_THAT(standin::ledger().errors(), IsEmpty());
  EXPECT_THAT(standin::ledger().unbalanced(), IsEmpty());
}

TEST_F(Standin, ReportsLeaksAndDoubleReleases) {
  newNumber(1);
  const CFNumberRef twice = newNumber(2);
  CFRelease(twice);
  CFRelease(twice);
  EXPECT_THAT(standin::ledger().unbalanced(), ElementsAre("number 1 released 0 times", "number 2 released 2 times"));
  EXPECT_THAT(standin::ledger().errors(), ElementsAre(HasSubstr("after it was released")));
}

TEST_F(Standin, ReportsReleasesOfWhatTheCallerDoesNotOwn) {
  int unknown = 0;
  CFRelease(&unknown);
  CFRelease(CFSTR("Product"));
  CFRelease(nullptr);
  IOObjectRelease(12345);
  EXPECT_THAT(standin::ledger().errors(),
              ElementsAre(HasSubstr("never made"), HasSubstr("a constant the caller does not own"),
                          HasSubstr("given null"), HasSubstr("never made")));
}

TEST_F(Standin, ReportsTheReleaseOfAnObjectThatBelongsToAList) {
  standin::hidScript().services = {{standin::textValue("PMU tdie1"), 40.0}};
  const IOHIDEventSystemClientRef client = IOHIDEventSystemClientCreate(kCFAllocatorDefault);
  const CFArrayRef services = IOHIDEventSystemClientCopyServices(client);
  CFRelease(CFArrayGetValueAtIndex(services, 0));
  CFRelease(services);
  CFRelease(client);
  EXPECT_THAT(standin::ledger().unbalanced(), ElementsAre("service#0 released by the caller, which never owned it"));
  EXPECT_THAT(standin::ledger().errors(), ElementsAre(HasSubstr("released again after it was gone")));
}

}  // namespace
