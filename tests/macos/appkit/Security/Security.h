// The Security and Core Foundation declarations that installer/main/macos/main.mm
// uses, with the signatures of Apple's headers (CSCommon.h, SecCode.h,
// CFDictionary.h), for the syntax check of that file.
#pragma once

#include <stdint.h>

typedef int32_t OSStatus;
typedef unsigned long CFTypeID;
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID(void);
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);

enum { errSecSuccess = 0 };
typedef uint32_t SecCSFlags;
enum : SecCSFlags { kSecCSDefaultFlags = 0 };
enum : SecCSFlags { kSecCSSigningInformation = 1 << 1 };
typedef struct __SecCode* SecCodeRef;
typedef const struct __SecCode* SecStaticCodeRef;
OSStatus SecCodeCopySelf(SecCSFlags flags, SecCodeRef* self);
OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information);
extern const CFStringRef kSecCodeInfoIdentifier;
extern const CFStringRef kSecCodeInfoTeamIdentifier;
