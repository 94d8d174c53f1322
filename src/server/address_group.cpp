#include "server/address_group.h"

#include <boost/asio/ip/address.hpp>

namespace qm {

std::string AddressGroup(std::string_view address) {
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address(std::string(address), ec);
    if (ec) return std::string(address);
    if (parsed.is_v4()) return parsed.to_string();
    const auto v6 = parsed.to_v6();
    if (v6.is_v4_mapped()) return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string();
    auto bytes = v6.to_bytes();
    for (std::size_t i = 8; i < bytes.size(); ++i) bytes[i] = 0;
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

}  // namespace qm
