// <sys/xattr.h> as macOS declares it, for the syntax check of the Mac-only
// sources; it hides glibc's, whose calls take no options.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#define XATTR_NOFOLLOW 0x0001
// Darwin's <sys/errno.h> defines it; glibc's errno.h does not.
#define ENOATTR 93

extern "C" int removexattr(const char* path, const char* name, int options);
