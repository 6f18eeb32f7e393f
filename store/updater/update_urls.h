// Addresses of the updater: the configuration service's query and the split of a download
// link into the pieces a WinInet connection takes. No Windows header needed.
#pragma once

#include <optional>
#include <string>

// The plug-in build the store reports to the service; 1.0.0 until the host tells it.
struct PluginVersion {
    int ver = 1;
    int major = 0;
    int minor = 0;
};

// The update source the service expects from this store.
extern const char kUpdateSourceVersion[];

// "http://" + host + the service's path and query. `host` is a host name, optionally
// followed by ":" and a port; `counter` is the check number (it only makes consecutive
// requests differ).
std::string BuildUpdateServiceUrl(const std::string& host, int hostId, const PluginVersion& version,
                                  int counter);

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

struct DownloadTarget {
    std::string server;      // host name or address, without port or brackets
    int port = kHttpPort;    // 80 for http://, 443 for https://, unless the link names one
    bool secure = false;     // https://: TLS
    std::string objectPath;  // from the first "/" on, "/" when the link has none
};

// Splits a download link. Only "http://" and "https://" (compared case-sensitively) are
// fetched; any other scheme gives nothing, and so does a link without a host or with a port
// that is not a number from 1 to 65535. The server part is everything before the first "/"
// after the scheme; a trailing ":digits" there is the port, and an address in brackets
// ("[::1]") loses its brackets.
std::optional<DownloadTarget> SplitDownloadUrl(const std::string& url);
