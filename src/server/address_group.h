#pragma once
// Which connections count as coming from one place. An IPv4 address is one
// machine; an IPv6 site is handed a whole /64, so every address in it is one
// place too (otherwise one machine could take a fresh address per socket).
#include <string>
#include <string_view>

namespace qm {

// The key under which `address` is counted: an IPv4 address as it is (also
// when it arrives IPv4-mapped on an IPv6 socket), an IPv6 address as its /64
// prefix ("2001:db8:1:2::/64"), and text that is no address as it is.
std::string AddressGroup(std::string_view address);

}  // namespace qm
