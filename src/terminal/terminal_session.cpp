#include "terminal/terminal_session.h"

#include "terminal/telnet_codec.h"

namespace qm {

void AppendWire(WireCoding coding, std::string_view text, std::string& out) {
    if (coding == WireCoding::kTelnet)
        TelnetCodec::AppendEscaped(text, out);
    else
        out.append(text);
}

}  // namespace qm
