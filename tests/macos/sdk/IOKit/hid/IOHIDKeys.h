#pragma once

// Stand-in for the HID property keys that the thermal walk uses.

#define kIOHIDProductKey "Product"
#define kIOHIDPrimaryUsageKey "PrimaryUsage"
#define kIOHIDPrimaryUsagePageKey "PrimaryUsagePage"
