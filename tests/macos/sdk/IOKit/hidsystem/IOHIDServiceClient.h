#pragma once

// Stand-in for the public face of a HID service client.

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __IOHIDServiceClient* IOHIDServiceClientRef;

CFTypeRef IOHIDServiceClientCopyProperty(IOHIDServiceClientRef service, CFStringRef key);

#ifdef __cplusplus
}
#endif
