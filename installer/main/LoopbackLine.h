#pragma once

#include <cstddef>
#include <cstdint>

#include "Platform.h"

// Platform::readLoopbackLine on plain POSIX sockets: connects to
// 127.0.0.1:port, trying again while nothing listens, and reads until a line
// feed, the peer's close, maxBytes or the deadline `seconds` from now. It
// never writes, and a connect that hangs (a full backlog) ends at the deadline.
PortReply readLoopbackLine(std::uint16_t port, double seconds, std::size_t maxBytes);
