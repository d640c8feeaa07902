#pragma once

// Writes one entry to the system log and the same text, after NSLog's prefix,
// as one line on stderr. Every message of the helper begins "[Helper] ".
// Neither write ever waits: a line that either cannot take at once is dropped,
// because the log must never stall the stream.
void helperLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
