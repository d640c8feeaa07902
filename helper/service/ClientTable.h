#pragma once

#include <cstddef>

#include "protocol/Stream.h"

// The table of connected clients: at most kMaxClients sockets, packed from
// slot 0 in order of arrival, all guarded by one mutex private to ClientTable.cpp.

// Thread entry: accepts clients on the listening socket (passed as intptr_t) for ever.
void* acceptThread(void* listenSocket);

// Registers a freshly accepted socket, or closes it at once when the table is full.
void addClient(int fd);

// The send phase of one cycle: hands `bytes` to every client, last slot first,
// dropping each client that cannot take the whole line at once.
void broadcastLine(const char* bytes, std::size_t size);
