#pragma once

// What each log_<os>.cpp gives Log.cpp.

// Hands one message to the system log without waiting.
void systemLogEntry(const char* message);

// The process and thread as NSLog names them in "Name[pid:tid]".
const char* logProcessName();
unsigned long long logThreadId();
