#pragma once

#include <ctime>

// What each platform/<os>/SystemLog.cpp gives the service's log.

// Writes one message, logged at `when`, to the system log. It may wait: only
// the system log's own writer thread calls it.
void systemLogEntry(const char* message, time_t when);

// The process and thread as NSLog names them in "Name[pid:tid]".
const char* logProcessName();
unsigned long long logThreadId();
