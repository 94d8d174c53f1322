#pragma once
// The login rate as the main channel fills: a mark after every step of
// logins (say each thousand) of the time, the server's CPU time and the join
// notices delivered so far. Each login is announced to everyone already in
// the channel, so a step's notices grow with the clients online; a server
// whose cost per notice stays flat from the first step to the last scales
// with the channel, one that walks all its clients per notice does not.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "load_report.h"

namespace qm::bench {

struct LoginMark {
    std::uint64_t ns = 0;
    std::optional<double> server_cpu;  // seconds; nothing without --server-pid
    std::uint64_t notices = 0;
    int logins = 0;
};

class LoginSteps {
public:
    void Mark(const LoginMark& mark) { marks_.push_back(mark); }

    // For step k = 1, 2, ...: stepk_logins, stepk_seconds, stepk_logins_per_s,
    // stepk_notices and stepk_server_cpu_us_per_notice.
    void AddTo(Report& report) const {
        for (std::size_t k = 1; k < marks_.size(); ++k) {
            const LoginMark& from = marks_[k - 1];
            const LoginMark& to = marks_[k];
            const std::string step = "step" + std::to_string(k) + "_";
            const double seconds = static_cast<double>(to.ns - from.ns) / 1e9;
            const std::uint64_t notices = to.notices - from.notices;
            report.Add(step + "logins", static_cast<std::int64_t>(to.logins - from.logins));
            report.Add(step + "seconds", seconds, 3);
            report.Add(step + "logins_per_s", (to.logins - from.logins) / seconds, 1);
            report.Add(step + "notices", static_cast<std::int64_t>(notices));
            if (!from.server_cpu || !to.server_cpu || notices == 0) continue;
            const double us = (*to.server_cpu - *from.server_cpu) * 1e6 / static_cast<double>(notices);
            report.Add(step + "server_cpu_us_per_notice", us, 4);
        }
    }

private:
    std::vector<LoginMark> marks_;
};

}  // namespace qm::bench
