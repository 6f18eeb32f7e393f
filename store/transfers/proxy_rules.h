// Which proxy a WinInet request goes through, read from the proxy and bypass lists a
// WinInet session carries (as InternetOpen takes them and INTERNET_OPTION_PROXY returns
// them), and the CONNECT exchange that opens a tunnel through it. The certificate check
// before a WinInet request uses both, so that it reaches the server the way the request
// will. Plain C++.
#pragma once

#include <optional>
#include <string>

struct ProxyServer {
    std::string host;
    int port = 80;
};

// The proxy for a request to `host`:`port` over TLS when `secure`, or none when it goes
// direct. The proxy list holds entries separated by ';' or blanks, each "server" (every
// scheme) or "scheme=server" (that scheme only; "https" for TLS, "http" otherwise), a
// server being [http://]host[:port] with port 80 by default; a scheme's own entry wins.
// The bypass list holds patterns separated by ';', ',' or blanks: "<local>" for names
// without a dot, otherwise a name where '*' stands for any run of characters, compared
// without letter case with the host and with host:port, an "http://" or "https://" in
// front ignored.
std::optional<ProxyServer> ChooseProxy(const std::string& proxyList, const std::string& bypassList,
                                       bool secure, const std::string& host, int port);

// The request that asks the proxy for a tunnel to `host`:`port`.
std::string ConnectRequest(const std::string& host, int port);

// The status code of a proxy's answer head (up to and including the blank line), or 0 when
// it is not an HTTP answer. 200 opens the tunnel.
int ConnectAnswerStatus(const std::string& head);
