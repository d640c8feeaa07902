// copyfile(3) as macOS declares it, for the syntax check of main.mm.
#pragma once

#include <stdint.h>

typedef struct _copyfile_state* copyfile_state_t;
typedef uint32_t copyfile_flags_t;
#define COPYFILE_ALL ((1 << 0) | (1 << 1) | (1 << 2) | (1 << 3))
#define COPYFILE_RECURSIVE (1 << 15)

extern "C" int copyfile(const char* from, const char* to, copyfile_state_t state, copyfile_flags_t flags);
