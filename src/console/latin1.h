#pragma once
// The core's text is 8-bit bytes, as the files and the wire are; the console
// shows each byte as the Latin-1 character of the same number, and turns what
// the operator types back into those bytes.
#include <QString>
#include <string>

namespace qm::console {

inline QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace qm::console
