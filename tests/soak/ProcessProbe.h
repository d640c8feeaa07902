#pragma once

#include <sys/types.h>

// What a running helper holds, read from /proc.

// The number of descriptors it has open.
int openDescriptorCount(pid_t pid);

// One past its highest open descriptor: a descriptor limit there leaves no
// number free until something below it is closed.
int descriptorCeiling(pid_t pid);

// Its resident memory (VmRSS) in KiB, or -1.
long residentKiB(pid_t pid);

// CPU clock ticks of every thread but the main one: the accept thread's side.
long long ticksBesideMainThread(pid_t pid);

// CPU clock ticks of the main thread: the broadcast loop.
long long mainThreadTicks(pid_t pid);
