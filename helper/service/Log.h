#pragma once

// Logs one message: an entry in the system log, and the same text, after
// NSLog's prefix, as one line on stderr. Every message of the helper begins
// "[Helper] ". The caller never waits for either destination: the message
// is queued for a log thread of each, in the order the calls happen, and
// dropped where that queue is full, because the log must never stall the
// stream. The first room after such a loss goes to an entry that counts it.
// Start-up and its failures log through here, never held back.
void helperLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Waits up to `seconds` for every queued message to be written, so that a
// failed start leaves its reason in the log before the process exits.
void drainLog(double seconds);

// Client events come as fast as anyone can connect, so each kind is logged
// at most 10 times in any window of `windowSeconds`, set once at start-up;
// the rest are counted. Until then nothing is held back.
enum class ClientEvent { Connected, Disconnected, Rejected };
void limitClientEvents(double windowSeconds);
void logClientEvent(ClientEvent event, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Logs how many client events were held back, once a window has passed
// since the first of them. Each event logs it too; the loop calls this every
// cycle so that it also comes when no event follows.
void logHeldBackClientEvents();
