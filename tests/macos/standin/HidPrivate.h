#pragma once

// The four private HID calls, as the stand-in defines them. The test build
// forces this header into every source, so a declaration in the code under test
// that differs from these fails to compile instead of linking silently.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hidsystem/IOHIDEventSystemClient.h>
#include <IOKit/hidsystem/IOHIDServiceClient.h>

#ifdef __cplusplus
extern "C" {
#endif

IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef allocator);
int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching);
CFTypeRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options,
                                      int64_t timestamp);
double IOHIDEventGetFloatValue(CFTypeRef event, int32_t field);

#ifdef __cplusplus
}
#endif
