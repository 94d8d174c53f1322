#pragma once
// What the local machine is called and where it can be reached; read from
// the platform without any name lookup, so it never blocks.
#include <string>

namespace qm {

// The host name, or "localhost" when the platform gives none.
std::string LocalHostName();

// The first IPv4 address of a network interface that is not a loopback, as
// dotted text; "127.0.0.1" when there is none.
std::string LocalIPv4Address();

}  // namespace qm
