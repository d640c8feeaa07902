#pragma once

// Writes one system-log entry. Every message of the helper begins "[Helper] ".
void helperLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
