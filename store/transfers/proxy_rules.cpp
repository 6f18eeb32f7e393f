// Proxy choice and the CONNECT exchange; see proxy_rules.h.
#include "store/transfers/proxy_rules.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "store/transfers/ascii_text.h"

namespace {

std::vector<std::string> SplitOn(const std::string& text, const char* separators) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        const bool separator = std::isspace(static_cast<unsigned char>(c)) != 0 ||
                               std::string(separators).find(c) != std::string::npos;
        if (!separator) {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

std::string WithoutScheme(const std::string& text) {
    for (const char* scheme : {"http://", "https://"}) {
        if (StartsWithNoCase(text, scheme)) {
            return text.substr(std::strlen(scheme));
        }
    }
    return text;
}

std::optional<ProxyServer> ParseServer(const std::string& entry) {
    std::string server = WithoutScheme(entry);
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    ProxyServer proxy;
    const size_t colon = server.rfind(':');
    if (colon != std::string::npos) {
        const std::string digits = server.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        proxy.port = std::atoi(digits.c_str());
        if (proxy.port < 1 || proxy.port > 65535) {
            return std::nullopt;
        }
        server.resize(colon);
    }
    if (server.empty()) {
        return std::nullopt;
    }
    proxy.host = server;
    return proxy;
}

// '*' matches any run of characters; everything else itself, without letter case.
bool WildcardMatches(const std::string& pattern, const std::string& text) {
    size_t p = 0;
    size_t t = 0;
    size_t star = std::string::npos;
    size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                             std::tolower(static_cast<unsigned char>(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool Bypassed(const std::string& bypassList, const std::string& host, int port) {
    const std::string hostAndPort = host + ":" + std::to_string(port);
    for (const std::string& entry : SplitOn(bypassList, ";,")) {
        if (EqualNoCase(entry, "<local>")) {
            if (host.find('.') == std::string::npos) {
                return true;
            }
            continue;
        }
        const std::string pattern = WithoutScheme(entry);
        if (WildcardMatches(pattern, host) || WildcardMatches(pattern, hostAndPort)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<ProxyServer> ChooseProxy(const std::string& proxyList, const std::string& bypassList,
                                       bool secure, const std::string& host, int port) {
    const std::string wanted = secure ? "https" : "http";
    std::optional<ProxyServer> own;
    std::optional<ProxyServer> general;
    for (const std::string& entry : SplitOn(proxyList, ";")) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            if (!general) {
                general = ParseServer(entry);
            }
        } else if (EqualNoCase(entry.substr(0, equals), wanted) && !own) {
            own = ParseServer(entry.substr(equals + 1));
        }
    }
    std::optional<ProxyServer> chosen = own ? own : general;
    if (!chosen || Bypassed(bypassList, host, port)) {
        return std::nullopt;
    }
    return chosen;
}

std::string ConnectRequest(const std::string& host, int port) {
    const std::string target = host + ":" + std::to_string(port);
    return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target +
           "\r\nProxy-Connection: Keep-Alive\r\n\r\n";
}

int ConnectAnswerStatus(const std::string& head) {
    // "HTTP/1.x NNN ..."
    if (head.compare(0, 5, "HTTP/") != 0) {
        return 0;
    }
    const size_t space = head.find(' ');
    if (space == std::string::npos || space + 4 > head.size()) {
        return 0;
    }
    const std::string digits = head.substr(space + 1, 3);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return std::atoi(digits.c_str());
}
