// The download client over TLS against the web side stand-in's TLS ports (the program runs
// through tests/run_with_webside.sh --tls, with the stand-in's test authority trusted in
// the Wine prefix): a file byte for byte, resuming, redirects between the schemes, the
// certificates that must be refused, an unknown revocation status, and a stop during a
// handshake that never ends. The native build has no TLS and must say so with its code.
#include "store/transfers/download_client.h"
#include "tests/transfers/download_test_data.h"
#include "store/transfers/tls_notices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#endif

namespace fs = std::filesystem;

namespace {

using download_test::EnvPort;
using download_test::Join;
using download_test::WebsideRoot;

// The stand-in's request log, over the plain port.
std::string WebsideLog() {
    return download_test::AskWebside("GET", "/_log");
}

class DownloadTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(EnvPort("PX_WEBSIDE_PORT"), 0) << "run through tests/run_with_webside.sh";
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::transform(name_.begin(), name_.end(), name_.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        served_ = Join(WebsideRoot(), name_);
        out_ = Join(WebsideRoot(), "out-" + name_);
        fs::remove_all(served_);
        fs::remove_all(out_);
        fs::create_directories(served_);
        fs::create_directories(out_);
    }

    // A client set up as the transfer manager sets it up, with `redirects` allowed.
    void Configure(HttpDownloadClient& client, const std::string& file, int redirects = 0) {
        client.setRetry(1, 0, 0);
        client.setMaxRedirects(redirects);
        client.setTimeouts(10000, 10000, 10000);
        client.setDownloadFolder(out_);
        client.setLocalPath(Join(out_, file));
    }

    std::string Url(const char* scheme, const char* portVariable, const std::string& file) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(EnvPort(portVariable)) +
               "/files/" + name_ + "/" + file;
    }

    // Requests that reached the stand-in for this test's files.
    int RequestsFor(const std::string& file) const {
        std::istringstream log(WebsideLog());
        const std::string mine = "\"path\": \"/files/" + name_ + "/" + file;
        int count = 0;
        for (std::string line; std::getline(log, line);)
            count += line.find(mine) != std::string::npos ? 1 : 0;
        return count;
    }

    std::string name_, served_, out_;
};

#ifdef PX_TEST_WITH_TLS

using download_test::Pattern;
using download_test::ReadAll;
using download_test::WriteAll;

TEST_F(DownloadTlsTest, FiveMegabytesArriveByteForByteWhateverTheSchemesLetterCase) {
    const std::string data = Pattern(5 * 1000 * 1000);
    WriteAll(Join(served_, "five.bin"), data);
    const std::string port = std::to_string(EnvPort("PX_WEBSIDE_TLS_GOOD"));
    const std::string urls[] = {
        Url("https", "PX_WEBSIDE_TLS_GOOD", "five.bin"),
        "HtTpS://localhost:" + port + "/files/" + name_ + "/five.bin",
    };
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        fs::remove(Join(out_, "five.bin"));
        TransferProgress progress;
        HttpDownloadClient client;
        Configure(client, "five.bin");
        client.setProgress(&progress);
        ASSERT_EQ(client.download(url, true), kDownloadDone)
            << client.lastError() << " socket error " << client.socketError();
        EXPECT_TRUE(ReadAll(Join(out_, "five.bin")) == data);
        EXPECT_EQ(client.receivedKiB(), 5u * 1000 * 1000 / 1024);
        EXPECT_EQ(client.totalKiB(), 5u * 1000 * 1000 / 1024);
    }
}

TEST_F(DownloadTlsTest, DroppedConnectionResumesWithRangesOverTls) {
    const std::string data = Pattern(100000);
    WriteAll(Join(served_, "a.bin"), data);
    HttpDownloadClient client;
    Configure(client, "a.bin");
    ASSERT_EQ(client.download(Url("https", "PX_WEBSIDE_TLS_GOOD", "a.bin?drop=30000"), false),
              kDownloadDone);
    EXPECT_TRUE(ReadAll(Join(out_, "a.bin")) == data);
    EXPECT_EQ(client.reconnectCountSoFar(), 3);
    const std::string log = WebsideLog();
    for (const char* range : {"bytes=30000-", "bytes=60000-", "bytes=90000-"})
        EXPECT_NE(log.find(std::string("\"Range\": \"") + range + "\""), std::string::npos)
            << range;
}

TEST_F(DownloadTlsTest, RedirectsMayRaiseTheSchemeButNeverLowerIt) {
    const std::string data = Pattern(20000);
    WriteAll(Join(served_, "b.bin"), data);
    struct Case {
        const char* from;      // scheme of the first request
        const char* fromPort;  // its port variable
        const char* to;
        const char* toPort;
        bool followed;
    };
    const Case cases[] = {
        {"http", "PX_WEBSIDE_PORT", "https", "PX_WEBSIDE_TLS_GOOD", true},
        {"https", "PX_WEBSIDE_TLS_GOOD", "https", "PX_WEBSIDE_TLS_GOOD", true},
        {"https", "PX_WEBSIDE_TLS_GOOD", "http", "PX_WEBSIDE_PORT", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        fs::remove(Join(out_, "b.bin"));
        const int before = RequestsFor("b.bin");
        HttpDownloadClient client;
        Configure(client, "b.bin", 2);
        // The target is lower-cased with the header it came in, so no escapes in it.
        const std::string target = Url(c.to, c.toPort, "b.bin");
        const int result =
            client.download(Url(c.from, c.fromPort, "a.bin?redirect=" + target), true);
        if (c.followed) {
            ASSERT_EQ(result, kDownloadDone) << client.lastError();
            EXPECT_TRUE(ReadAll(Join(out_, "b.bin")) == data);
            EXPECT_EQ(RequestsFor("b.bin"), before + 1);
        } else {
            EXPECT_EQ(result, kDownloadFailed);
            EXPECT_EQ(client.lastError(), kDownloadHtmlOrRedirects);
            EXPECT_EQ(RequestsFor("b.bin"), before) << "the plain URL must not be asked";
            EXPECT_FALSE(fs::exists(Join(out_, "b.bin")));
            EXPECT_FALSE(fs::exists(Join(out_, "b.bin.down")));
        }
    }
}

TEST_F(DownloadTlsTest, RefusedCertificatesFailWith1008AndWriteNothing) {
    WriteAll(Join(served_, "a.bin"), Pattern(10000));
    std::vector<std::string> notices;
    static std::mutex noticesLock;
    static std::vector<std::string>* sink = nullptr;
    sink = &notices;
    SetTlsNoticeWriter([](const char* line) {
        std::lock_guard<std::mutex> hold(noticesLock);
        sink->push_back(line);
    });
    const struct {
        const char* portVariable;
        const char* reason;  // in the log line
    } cases[] = {
        {"PX_WEBSIDE_TLS_WRONG_NAME", "CERT_E_CN_NO_MATCH"},
        {"PX_WEBSIDE_TLS_EXPIRED", "CERT_E_EXPIRED"},
        {"PX_WEBSIDE_TLS_UNKNOWN_AUTHORITY", "CERT_E_UNTRUSTEDROOT"},
        {"PX_WEBSIDE_TLS_REVOKED", "REVOKED"},
    };
    // Twice each: Wine remembers revocation answers within a process, and a second look at
    // a revoked certificate must not pass.
    for (int round = 0; round < 2; ++round)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.portVariable) + " round " + std::to_string(round));
            notices.clear();
            HttpDownloadClient client;
            Configure(client, "a.bin");
            EXPECT_EQ(client.download(Url("https", c.portVariable, "a.bin"), false),
                      kDownloadFailed);
            EXPECT_EQ(client.lastError(), kDownloadCertificateRejected);
            // Refused at once: a certificate does not get better by asking again.
            EXPECT_EQ(client.retryCountSoFar(), 0);
            EXPECT_FALSE(fs::exists(Join(out_, "a.bin")));
            EXPECT_FALSE(fs::exists(Join(out_, "a.bin.down")));
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_NE(notices[0].find(c.reason), std::string::npos) << notices[0];
        }
    SetTlsNoticeWriter(nullptr);
    EXPECT_EQ(RequestsFor("a.bin"), 0) << "no request may be sent over a refused connection";
}

TEST_F(DownloadTlsTest, UnknownRevocationStatusIsAcceptedAndLoggedOncePerHost) {
    const std::string data = Pattern(10000);
    WriteAll(Join(served_, "a.bin"), data);
    static std::mutex noticesLock;
    static std::vector<std::string> notices;
    SetTlsNoticeWriter([](const char* line) {
        std::lock_guard<std::mutex> hold(noticesLock);
        notices.push_back(line);
    });
    const std::string port = std::to_string(EnvPort("PX_WEBSIDE_TLS_REVOCATION_UNKNOWN"));
    for (const char* host : {"127.0.0.1", "127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        fs::remove(Join(out_, "a.bin"));
        HttpDownloadClient client;
        Configure(client, "a.bin");
        ASSERT_EQ(
            client.download(
                "https://" + std::string(host) + ":" + port + "/files/" + name_ + "/a.bin", true),
            kDownloadDone)
            << client.lastError() << " socket error " << client.socketError();
        EXPECT_TRUE(ReadAll(Join(out_, "a.bin")) == data);
    }
    SetTlsNoticeWriter(nullptr);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("revocation status of 127.0.0.1"), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find("revocation status of localhost"), std::string::npos) << notices[1];
}

// A server that accepts the connection and then never answers the client's hello.
TEST_F(DownloadTlsTest, StopDuringAStalledHandshakeEndsPromptly) {
    WSADATA started;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &started), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    int length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url =
        "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/files/a.bin";

    HttpDownloadClient client;
    Configure(client, "a.bin");
    int result = -1;
    std::chrono::steady_clock::time_point ended;
    std::thread worker([&] {
        result = client.download(url, true);
        ended = std::chrono::steady_clock::now();
    });
    // Let the connection be accepted by the system and the hello go out.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto stopped = std::chrono::steady_clock::now();
    client.abort();
    worker.join();
    closesocket(listener);
    EXPECT_EQ(result, kDownloadStoppedResult);
    // Each stall of the handshake would last the 10 s time limit, and be retried.
    EXPECT_LT(ended - stopped, std::chrono::seconds(5));
    EXPECT_FALSE(fs::exists(Join(out_, "a.bin.down")));
}

#else  // the native build

TEST_F(DownloadTlsTest, HttpsIsRefusedWithItsOwnCodeAndNothingIsWritten) {
    HttpDownloadClient client;
    Configure(client, "a.bin");
    EXPECT_EQ(client.download(Url("https", "PX_WEBSIDE_PORT", "a.bin"), false), kDownloadFailed);
    EXPECT_EQ(client.lastError(), kDownloadHttpsUnsupported);
    EXPECT_EQ(client.retryCountSoFar(), 0);
    EXPECT_FALSE(fs::exists(Join(out_, "a.bin.down")));
}

#endif

}  // namespace
