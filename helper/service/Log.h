#pragma once

// Logs one message: an entry in the system log, and the same text, after
// NSLog's prefix, as one line on stderr. Every message of the helper begins
// "[Helper] ". The caller never waits for either destination: the message
// is queued for a log thread of each, in the order the calls happen, and
// dropped where that queue is full, because the log must never stall the
// stream.
void helperLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Waits up to `seconds` for every queued message to be written, so that a
// failed start leaves its reason in the log before the process exits.
void drainLog(double seconds);
