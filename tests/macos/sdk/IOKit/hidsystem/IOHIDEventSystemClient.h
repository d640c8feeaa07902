#pragma once

// Stand-in for the public face of the HID event-system client.

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __IOHIDEventSystemClient* IOHIDEventSystemClientRef;

CFArrayRef IOHIDEventSystemClientCopyServices(IOHIDEventSystemClientRef client);

#ifdef __cplusplus
}
#endif
