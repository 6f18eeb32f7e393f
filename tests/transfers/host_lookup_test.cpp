// The bounded host-name lookup with resolvers that stand in for a name server: one that
// answers, one that knows nothing and one that hangs until the test lets it go. A hung
// lookup must not hold the download past a stop or the time limit, and its late answer
// must land safely after the caller has left.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "store/transfers/host_lookup_win.h"

namespace {

constexpr int kLongLimitMs = 60000;
// Far below kLongLimitMs: a lookup that ends within it did not wait for the limit.
constexpr auto kWellBeforeTheLimit = std::chrono::seconds(30);

bool AnswerTenOneTwoThree(const std::string&, in_addr& address) {
    return inet_pton(AF_INET, "10.1.2.3", &address) == 1;
}

bool KnowNothing(const std::string&, in_addr&) {
    return false;
}

// The hanging name server: it answers only once released, and says when it has.
HANDLE g_release = nullptr;
HANDLE g_answered = nullptr;

bool HangUntilReleased(const std::string& host, in_addr& address) {
    WaitForSingleObject(g_release, INFINITE);
    const bool found = AnswerTenOneTwoThree(host, address);
    SetEvent(g_answered);
    return found;
}

std::string Dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

class HostLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_answered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(g_release, nullptr);
        ASSERT_NE(g_answered, nullptr);
    }
    void TearDown() override {
        // A hung lookup still running is let go, and its answer awaited, before the
        // events go away.
        SetEvent(g_release);
        if (m_hungLookupStarted) {
            EXPECT_EQ(WaitForSingleObject(g_answered, 30000), WAIT_OBJECT_0);
        }
        CloseHandle(g_release);
        CloseHandle(g_answered);
    }

    bool m_hungLookupStarted = false;
};

TEST_F(HostLookupTest, AnswersAndFailuresOfTheResolverComeThrough) {
    const std::atomic<bool> never{false};
    in_addr address{};
    EXPECT_EQ(LookUpIpv4("store.example", never, kLongLimitMs, address, AnswerTenOneTwoThree),
              LookupResult::kFound);
    EXPECT_EQ(Dotted(address), "10.1.2.3");
    EXPECT_EQ(LookUpIpv4("nowhere.example", never, kLongLimitMs, address, KnowNothing),
              LookupResult::kNotFound);
    // A dotted address needs no resolver at all.
    EXPECT_EQ(LookUpIpv4("127.0.0.9", never, kLongLimitMs, address, KnowNothing),
              LookupResult::kFound);
    EXPECT_EQ(Dotted(address), "127.0.0.9");
}

TEST_F(HostLookupTest, AHungLookupEndsOnAStopOrAtTheLimitAndItsLateAnswerLandsSafely) {
    struct Case {
        const char* label;
        bool stopSoon;
        int limitMs;
        LookupResult expected;
    } cases[] = {
        {"stopped", true, kLongLimitMs, LookupResult::kStopped},
        {"time limit", false, 300, LookupResult::kTimedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ResetEvent(g_release);
        ResetEvent(g_answered);
        std::atomic<bool> stop{false};
        std::thread stopper;
        if (c.stopSoon) {
            stopper = std::thread([&stop] {
                Sleep(200);
                stop.store(true);
            });
        }
        m_hungLookupStarted = true;
        in_addr address{};
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(LookUpIpv4("hung.example", stop, c.limitMs, address, HangUntilReleased),
                  c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, kWellBeforeTheLimit);
        if (stopper.joinable()) {
            stopper.join();
        }
        // The name server answers after the caller has gone: the lookup thread writes into
        // what it shares with nobody any more, and ends.
        SetEvent(g_release);
        ASSERT_EQ(WaitForSingleObject(g_answered, 30000), WAIT_OBJECT_0);
    }
}

}  // namespace
