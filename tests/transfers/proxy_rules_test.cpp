// Which proxy a WinInet request goes through, and the CONNECT exchange, from the lists a
// session carries.
#include <gtest/gtest.h>

#include <string>

#include "store/transfers/proxy_rules.h"

namespace {

std::string Chosen(const char* proxyList, const char* bypassList, bool secure, const char* host,
                   int port = 443) {
    const auto proxy = ChooseProxy(proxyList, bypassList, secure, host, port);
    return proxy ? proxy->host + ":" + std::to_string(proxy->port) : "direct";
}

TEST(ProxyRules, TheSchemesOwnEntryWinsThenTheGeneralOne) {
    const struct {
        const char* proxyList;
        bool secure;
        const char* expected;
    } cases[] = {
        {"proxy.corp:8080", true, "proxy.corp:8080"},
        {"proxy.corp:8080", false, "proxy.corp:8080"},
        {"proxy.corp", true, "proxy.corp:80"},
        {"http://proxy.corp:3128/", true, "proxy.corp:3128"},
        {"http=web.corp:80;https=tls.corp:8443", true, "tls.corp:8443"},
        {"http=web.corp:80;https=tls.corp:8443", false, "web.corp:80"},
        {"HTTPS=tls.corp:8443 general.corp:81", true, "tls.corp:8443"},
        {"general.corp:81;https=tls.corp:8443", true, "tls.corp:8443"},
        {"ftp=files.corp:21;general.corp:81", true, "general.corp:81"},
        // Only plain requests are proxied: TLS goes direct.
        {"http=web.corp:80", true, "direct"},
        {"", true, "direct"},
        {"  ;  ", true, "direct"},
        // Unreadable servers are no proxy.
        {"proxy.corp:http", true, "direct"},
        {"proxy.corp:0", true, "direct"},
        {"proxy.corp:70000", true, "direct"},
        {"https=", true, "direct"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Chosen(c.proxyList, "", c.secure, "store.example.com"), c.expected)
            << c.proxyList << (c.secure ? " (TLS)" : "");
    }
}

TEST(ProxyRules, TheBypassListSendsMatchingHostsDirect) {
    const struct {
        const char* bypassList;
        const char* host;
        int port;
        bool direct;
    } cases[] = {
        {"<local>", "intranet", 443, true},
        {"<local>", "store.example.com", 443, false},
        {"*.example.com", "store.example.com", 443, true},
        {"*.EXAMPLE.com", "Store.Example.COM", 443, true},
        {"*.example.com", "example.com", 443, false},
        {"store.example.com", "store.example.com.evil.test", 443, false},
        {"10.*", "10.1.2.3", 443, true},
        {"10.*", "110.1.2.3", 443, false},
        {"https://store.example.com", "store.example.com", 443, true},
        {"store.example.com:8443", "store.example.com", 8443, true},
        {"store.example.com:8443", "store.example.com", 443, false},
        {"a.test; b.test, *.example.com <local>", "store.example.com", 443, true},
        {"", "store.example.com", 443, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Chosen("proxy.corp:8080", c.bypassList, true, c.host, c.port),
                  c.direct ? "direct" : "proxy.corp:8080")
            << c.bypassList << " / " << c.host << ":" << c.port;
    }
}

TEST(ProxyRules, ConnectAsksForTheTunnelAndReadsTheStatus) {
    EXPECT_EQ(ConnectRequest("store.example.com", 443),
              "CONNECT store.example.com:443 HTTP/1.1\r\nHost: store.example.com:443\r\n"
              "Proxy-Connection: Keep-Alive\r\n\r\n");
    const struct {
        const char* head;
        int status;
    } cases[] = {
        {"HTTP/1.1 200 Connection established\r\n\r\n", 200},
        {"HTTP/1.0 200\r\n\r\n", 200},
        {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n", 407},
        {"HTTP/1.1 2x0 Odd\r\n\r\n", 0},
        {"SSH-2.0-OpenSSH\r\n", 0},
        {"", 0},
        {"HTTP/1.1", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConnectAnswerStatus(c.head), c.status) << c.head;
    }
}

}  // namespace
