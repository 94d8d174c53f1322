#include "server/way_listeners.h"

#include <unistd.h>

#include <climits>
#include <system_error>

#include "storage/settings.h"
#include "storage/text_file.h"

namespace qm {

namespace {

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace

WayListeners::WayListeners(TWSocketServer& server, ServerLog& log, const PreferenceStore& preferences,
                           std::filesystem::path dataDir, std::function<void(const std::string&)> reportError)
    : server_(server),
      log_(log),
      preferences_(preferences),
      dataDir_(std::move(dataDir)),
      reportError_(std::move(reportError)) {}

unsigned short WayListeners::PortOf(const char* key) const {
    const std::string text = preferences_.GetText(key, "");
    if (text.empty()) return 0;
    int port = -1;
    try {
        port = ParseWholeNumber(text);
    } catch (const SettingError&) {
    }
    if (port < 0 || port > 65535) {
        reportError_(std::string(key) + "=" + text + " in " + preferences_.path().string() +
                     " is no port (1-65535); that way in stays closed.");
        return 0;
    }
    return static_cast<unsigned short>(port);
}

void WayListeners::Apply() {
    const unsigned short port = PortOf("TlsPort");
    if (port == 0) {
        Close(tls_);
        return;
    }
    if (auto context = LoadCertificate()) tls_.SetContext(std::move(context));
    if (!tls_.Context()) {
        Close(tls_);
        return;
    }
    if (server_.Listening(tls_) && port == tlsPort_) return;
    Close(tls_);
    Open(tls_, port);
    tlsPort_ = port;
}

std::shared_ptr<const TlsServerContext> WayListeners::LoadCertificate() {
    const std::string certificate = preferences_.GetText("TlsCertificate", "");
    const std::string key = preferences_.GetText("TlsKey", "");
    try {
        std::shared_ptr<const TlsServerContext> context;
        std::string source;
        if (!certificate.empty() || !key.empty()) {
            if (certificate.empty() || key.empty())
                throw TlsSetupError("TlsCertificate and TlsKey in " + preferences_.path().string() +
                                    " go together; set both, or neither for a self-signed certificate.");
            context = std::make_shared<TlsServerContext>(certificate, key);
            source = certificate;
        } else {
            const auto file = dataDir_ / kSelfSignedCertificateFile;
            if (!std::filesystem::exists(file)) {
                WriteFileAtomic(file, MakeSelfSignedPem(HostName()));
                log_.Add("Made a self-signed TLS certificate: " + file.string());
            }
            context = std::make_shared<TlsServerContext>(file, file);
            source = file.string() + ", self-signed";
        }
        log_.Add("TLS certificate (" + source + ") SHA-256 fingerprint: " + context->Fingerprint());
        return context;
    } catch (const std::runtime_error& e) {  // TlsSetupError, FileError
        reportError_(e.what());
        return nullptr;
    }
}

void WayListeners::Open(WayIn& way, unsigned short port) {
    try {
        server_.ListenWay(way, port);
    } catch (const std::system_error& e) {
        reportError_("Cannot listen on port " + std::to_string(port) + " (" + std::string(way.Label()) +
                     "): " + e.what());
        return;
    }
    LogListening(way);
}

void WayListeners::LogListening(const WayIn& way) {
    for (const auto& endpoint : server_.ListeningOn(way))
        log_.Add("Listening on " + endpoint + " (" + std::string(way.Label()) + ")");
}

void WayListeners::Close(WayIn& way) {
    if (!server_.Listening(way)) return;
    const unsigned short port = server_.LocalPort(way);
    server_.CloseWay(way);
    log_.Add("Stopped listening on port " + std::to_string(port) + " (" + std::string(way.Label()) + ")");
}

}  // namespace qm
