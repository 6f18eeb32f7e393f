// The service query and the link split of the updater.
#include "store/updater/update_urls.h"

#include <cstdio>

const char kUpdateSourceVersion[] = "1.0.0";

namespace {

const char kHttpPrefix[] = "http://";
const char kHttpsPrefix[] = "https://";

bool StartsWith(const std::string& text, const char* prefix, std::size_t length) {
    return text.compare(0, length, prefix) == 0;
}

// "65535" and below, at least one digit, nothing else.
std::optional<int> ParsePort(const std::string& digits) {
    if (digits.empty() || digits.size() > 5) {
        return std::nullopt;
    }
    int port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

}  // namespace

std::string BuildUpdateServiceUrl(const std::string& host, int hostId, const PluginVersion& version,
                                  int counter) {
    char query[256];
    std::snprintf(query, sizeof query,
                  "?intHostID=%d&stgVersion=%d.%d.%d&stgUpdateSource=%s&temp=%d", hostId,
                  version.ver, version.major, version.minor, kUpdateSourceVersion, counter);
    return std::string(kHttpPrefix) + host + "/aerin/aerinpluginconfigurationservice.cfm" + query;
}

std::optional<DownloadTarget> SplitDownloadUrl(const std::string& url) {
    DownloadTarget target;
    std::string rest;
    if (StartsWith(url, kHttpPrefix, sizeof kHttpPrefix - 1)) {
        rest = url.substr(sizeof kHttpPrefix - 1);
    } else if (StartsWith(url, kHttpsPrefix, sizeof kHttpsPrefix - 1)) {
        rest = url.substr(sizeof kHttpsPrefix - 1);
        target.port = kHttpsPort;
        target.secure = true;
    } else {
        return std::nullopt;
    }

    const std::size_t slash = rest.find('/');
    std::string hostPart = rest.substr(0, slash);
    target.objectPath = slash == std::string::npos ? std::string("/") : rest.substr(slash);

    std::string portText;
    bool hasPort = false;
    if (!hostPart.empty() && hostPart[0] == '[') {
        const std::size_t close = hostPart.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        const std::string after = hostPart.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                return std::nullopt;
            }
            hasPort = true;
            portText = after.substr(1);
        }
        target.server = hostPart.substr(1, close - 1);
    } else {
        const std::size_t colon = hostPart.rfind(':');
        if (colon != std::string::npos) {
            hasPort = true;
            portText = hostPart.substr(colon + 1);
            hostPart.resize(colon);
        }
        target.server = hostPart;
    }
    if (target.server.empty()) {
        return std::nullopt;
    }
    if (hasPort) {
        const std::optional<int> port = ParsePort(portText);
        if (!port) {
            return std::nullopt;
        }
        target.port = *port;
    }
    return target;
}
