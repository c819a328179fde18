#pragma once

#include <functional>

// Whether the socket layer works at all: an IPv4 socket can be created.
bool SocketLayerWorks();

using SocketCheck = std::function<bool()>;
