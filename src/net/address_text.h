#pragma once
// How a peer's address is written in the log, in /whois and in the ban
// list: an IPv4 address in dotted decimal, also when it reached an IPv6
// socket as ::ffff:a.b.c.d; an IPv6 address in its canonical form (lower
// case, the longest run of zero groups compressed).
#include <boost/asio/ip/address.hpp>
#include <string>

namespace qm {

inline std::string AddressText(const boost::asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

}  // namespace qm
