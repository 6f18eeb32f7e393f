// The TLS notices for the store's log, with the set of hosts whose unknown revocation
// status has already been reported.
#include "store/transfers/tls_notices.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

namespace {

std::atomic<TlsNoticeWriter> gWriter{nullptr};
std::mutex gHostsLock;
std::set<std::string> gHostsNoted;

void Write(const char* line) {
    const TlsNoticeWriter writer = gWriter.load();
    if (writer != nullptr)
        writer(line);
}

// Host names come from URLs the movie passes; keep the line within the log's limit.
std::string Shortened(const std::string& host) {
    return host.size() > 256 ? host.substr(0, 256) : host;
}

}  // namespace

void SetTlsNoticeWriter(TlsNoticeWriter writer) {
    gWriter.store(writer);
}

void NoteCertificateRejected(const std::string& host, const char* reason, unsigned long error,
                             unsigned long trustErrors) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "TLS: certificate of %s rejected: %s (0x%08lX, trust bits 0x%08lX)",
                  Shortened(host).c_str(), reason, error, trustErrors);
    Write(line);
}

bool NoteRevocationUnknownOnce(const std::string& host, unsigned long trustErrors) {
    {
        std::lock_guard<std::mutex> hold(gHostsLock);
        if (!gHostsNoted.insert(host).second)
            return false;
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "TLS: revocation status of %s's certificate unknown (trust bits 0x%08lX); "
                  "trusted without it",
                  Shortened(host).c_str(), trustErrors);
    Write(line);
    return true;
}
