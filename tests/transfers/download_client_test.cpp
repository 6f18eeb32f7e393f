// Download client against the web side stand-in on 127.0.0.1 (started around this program
// by tests/run_with_webside.sh): resuming, retries, redirects, failures, the request on the
// wire (checked in the stand-in's request log), file times and stopping.
#include "store/transfers/download_client.h"
#include "tests/text/shift_jis_lead_bytes.h"
#include "tests/transfers/download_test_data.h"
#include "text/multibyte.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

namespace fs = std::filesystem;

namespace {

int WebsidePort() {
    return download_test::EnvPort("PX_WEBSIDE_PORT");
}

using download_test::Join;
using download_test::WebsideRoot;

std::string Base() {
    return "http://127.0.0.1:" + std::to_string(WebsidePort());
}

using download_test::AskWebside;
using download_test::Pattern;
using download_test::ReadAll;
using download_test::WriteAll;

time_t ModificationTime(const std::string& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    return static_cast<time_t>(ticks / 10000000ULL - 11644473600ULL);
#else
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
#endif
}

class DownloadTest : public ::testing::Test {
protected:
    static constexpr size_t kFileSize = 10000;

    void SetUp() override {
        ASSERT_NE(WebsidePort(), 0) << "run through tests/run_with_webside.sh";
        // Lower case: redirect targets and server file names come back lower-cased.
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name_)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        served_ = Join(WebsideRoot(), name_);
        out_ = Join(WebsideRoot(), "out-" + name_);
        fs::remove_all(served_);
        fs::remove_all(out_);
        fs::create_directories(served_);
        fs::create_directories(out_);
        data_ = Pattern(kFileSize);
        WriteAll(Join(served_, "a.bin"), data_);
        client_.setProgress(&progress_);
        // What the transfer manager sets for every download.
        client_.setRetry(1, 0, 0);
        client_.setMaxRedirects(0);
        client_.setTimeouts(10000, 10000, 10000);
        client_.setDownloadFolder(out_);
        client_.setLocalPath(Join(out_, "a.bin"));
    }

    std::string Url(const std::string& fileAndQuery) const {
        return Base() + "/files/" + name_ + "/" + fileAndQuery;
    }

    // The stand-in's log lines of requests for this test's files.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::istringstream log(AskWebside("GET", "/_log"));
        const std::string mine = "\"path\": \"/files/" + name_ + "/";
        for (std::string line; std::getline(log, line);)
            if (line.find(mine) != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    std::string local() const { return Join(out_, "a.bin"); }

    std::string name_, served_, out_, data_;
    TransferProgress progress_;
    HttpDownloadClient client_;
};

TEST_F(DownloadTest, FetchesFileWithProgressAndRequestHeadersInOrder) {
    ASSERT_EQ(client_.download(Url("a.bin"), false), kDownloadDone);
    EXPECT_EQ(client_.lastError(), 200);
    EXPECT_EQ(ReadAll(local()), data_);
    EXPECT_FALSE(fs::exists(local() + ".down"));
    EXPECT_EQ(client_.resultPath(), local());
    EXPECT_EQ(LoadStatus(progress_), 0);
    EXPECT_EQ(LoadDoneAmount(progress_), kFileSize / 1024);
    EXPECT_EQ(LoadTotalAmount(progress_), kFileSize / 1024);

    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string headers =
        "\"headers\": {\"Host\": \"127.0.0.1\", \"Accept\": \"*/*\", \"Pragma\": \"no-cache\", "
        "\"Cache-Control\": \"no-cache\", \"User-Agent\": \"Mozilla/4.0 (compatible; MSIE 5.00; "
        "Windows 98)\", \"Referer\": \"" +
        Base() + "/files/" + name_ + "\", \"Connection\": \"close\"}";
    EXPECT_NE(requests[0].find(headers), std::string::npos) << requests[0];
}

#ifdef _WIN32
TEST_F(DownloadTest, SendsTheCookiesOfTheUrl) {
    ASSERT_TRUE(InternetSetCookieA(Url("a.bin").c_str(), "session", "s3cret"));
    ASSERT_EQ(client_.download(Url("a.bin"), false), kDownloadDone);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("\"Referer\": \"" + Base() + "/files/" + name_ +
                               "\", \"Cookie\": \"session=s3cret\", \"Connection\""),
              std::string::npos)
        << requests[0];
}
#endif

TEST_F(DownloadTest, DroppedConnectionResumesWithRange) {
    ASSERT_EQ(client_.download(Url("a.bin?drop=4000"), false), kDownloadDone);
    EXPECT_EQ(ReadAll(local()), data_);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 3u);  // 0-, 4000-, 8000-
    EXPECT_EQ(requests[0].find("\"Range\""), std::string::npos);
    EXPECT_NE(requests[1].find("\"Range\": \"bytes=4000-\""), std::string::npos) << requests[1];
    EXPECT_NE(requests[2].find("\"Range\": \"bytes=8000-\""), std::string::npos) << requests[2];
    EXPECT_EQ(client_.reconnectCountSoFar(), 2);
}

TEST_F(DownloadTest, PartialFileIsAppendedOn206AndRewrittenOn200) {
    struct Case {
        const char* query;
        std::string partial;
    };
    const Case cases[] = {
        {"", data_.substr(0, 4000)},                        // 206: the rest is appended
        {"?norange=1", std::string(4000, 'x')},             // 200: rewritten from the start
        {"?norange=1", std::string(kFileSize + 500, 'x')},  // longer than the new content
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        AskWebside("POST", "/_reset");
        fs::remove(local());
        WriteAll(local() + ".down", c.partial);
        HttpDownloadClient client;
        client.setRetry(1, 0, 0);
        client.setDownloadFolder(out_);
        client.setLocalPath(local());
        ASSERT_EQ(client.download(Url(std::string("a.bin") + c.query), false), kDownloadDone);
        EXPECT_EQ(ReadAll(local()), data_);
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_NE(
            requests[0].find("\"Range\": \"bytes=" + std::to_string(c.partial.size()) + "-\""),
            std::string::npos);
    }
}

TEST_F(DownloadTest, StalePartialFileIsDroppedAndTheFileFetchedOnceFromTheStart) {
    struct Case {
        const char* label;
        std::string query;
        std::string partial;
    };
    const Case cases[] = {
        {"as long as the server's file", "", std::string(kFileSize, 'x')},
        {"longer than the server's file", "", std::string(kFileSize + 700, 'x')},
        // A shorter partial file whose 206 answer does not fit it: the server's file is not
        // the one the partial file came from, so appending would join two different files.
        {"206 claims another start", "?rangestart=500", std::string(1000, 'x')},
        {"206 claims another total", "?rangetotal=" + std::to_string(kFileSize + 1),
         std::string(1000, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AskWebside("POST", "/_reset");
        fs::remove(local());
        WriteAll(local() + ".down", c.partial);
        HttpDownloadClient client;
        client.setRetry(1, 0, 0);
        client.setMaxRedirects(0);
        client.setDownloadFolder(out_);
        client.setLocalPath(local());
        ASSERT_EQ(client.download(Url("a.bin" + c.query), false), kDownloadDone);
        EXPECT_EQ(ReadAll(local()), data_);
        EXPECT_FALSE(fs::exists(local() + ".down"));
        // The range asked for the stale length, then one request from the start.
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_NE(
            requests[0].find("\"Range\": \"bytes=" + std::to_string(c.partial.size()) + "-\""),
            std::string::npos);
        EXPECT_EQ(requests[1].find("\"Range\""), std::string::npos) << requests[1];
    }
}

TEST_F(DownloadTest, StopAfterTheLastBytesStillCompletesTheFile) {
    // A stop that lands once the last chunk is written must not leave a complete ".down"
    // behind: the run either ends stopped with a shorter partial file or completes. The
    // stop is sent the moment the figures show the whole file, many times over, so that
    // some of the stops fall after the last write.
    const std::string whole = Pattern(40 * 1024);
    WriteAll(Join(served_, "w.bin"), whole);
    int completedAfterStop = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const std::string target = Join(out_, "w.bin");
        fs::remove(target);
        fs::remove(target + ".down");
        HttpDownloadClient client;
        client.setDownloadFolder(out_);
        client.setLocalPath(target);
        int result = -1;
        std::thread worker([&] { result = client.download(Url("w.bin?rate=400000"), true); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (client.receivedKiB() < 40 && std::chrono::steady_clock::now() < deadline) {
        }
        client.abort();
        worker.join();
        if (result == kDownloadDone) {
            EXPECT_EQ(ReadAll(target), whole);
            EXPECT_FALSE(fs::exists(target + ".down"));
            ++completedAfterStop;
        } else {
            EXPECT_EQ(result, kDownloadStoppedResult);
            uint64_t size = 0;
            if (QueryFileSize(target + ".down", size)) {
                EXPECT_LT(size, whole.size()) << "a complete file was left as a partial one";
            }
        }
        AskWebside("POST", "/_reset");
    }
    EXPECT_GT(completedAfterStop, 0);
}

TEST(DownloadNamesTest, DoubledSeparatorsCollapseByWholeCharacters) {
    // Shift-JIS lead bytes: 0x95 0x5C is one character whose trail byte is a backslash.
    ShiftJisLeadBytes shiftJis;
    struct Case {
        const char* text;
        const char* collapsed;
    };
    const Case cases[] = {
        {"C:\\cache\\\\\x95\x5C\\a.max.down", "C:\\cache\\\x95\x5C\\a.max.down"},
        {"C:\\\x95\x5C\\\\b.down", "C:\\\x95\x5C\\b.down"},
        {"\\\\\\", "\\\\"},  // three become two, read once from the left
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CollapseDoubledSeparators(c.text, '\\'), c.collapsed);
    }
    EXPECT_EQ(CollapseDoubledSeparators("/a//b", '/'), "/a/b");
}

TEST_F(DownloadTest, FailuresLeaveTheirCodeAndWriteNothing) {
    struct Case {
        const char* query;
        int code;
        size_t requests;
    };
    const Case cases[] = {
        {"?redirect=b.bin", kDownloadHtmlOrRedirects, 1},  // no redirect allowed
        {"?status=404", 404, 1},
        {"?status=500", 500, 12},  // the first attempt and 11 retries
        {"?html=1", kDownloadHtmlOrRedirects, 1},
        {"?nolength=1", 200, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        AskWebside("POST", "/_reset");
        HttpDownloadClient client;
        client.setRetry(1, 0, 0);
        client.setMaxRedirects(0);
        client.setDownloadFolder(out_);
        client.setLocalPath(local());
        EXPECT_EQ(client.download(Url(std::string("a.bin") + c.query), false), kDownloadFailed);
        EXPECT_EQ(client.lastError(), c.code);
        EXPECT_EQ(Requests().size(), c.requests);
        EXPECT_FALSE(fs::exists(local()));
        EXPECT_FALSE(fs::exists(local() + ".down"));
    }
}

TEST_F(DownloadTest, RedirectsAreFollowedWithinTheLimit) {
    WriteAll(Join(served_, "b.bin"), data_);
    const std::string redirects[] = {
        "a.bin?redirect=b.bin",                                           // same folder
        "sub/a.bin?redirect=..%2Fb.bin",                                  // one level up
        "x/a.bin?redirect=%2Ffiles%2F" + name_ + "%2Fb.bin",              // absolute path
        "a.bin?redirect=" + Base() + "%2Ffiles%2F" + name_ + "%2Fb.bin",  // full URL
    };
    for (const std::string& target : redirects) {
        SCOPED_TRACE(target);
        AskWebside("POST", "/_reset");
        fs::remove(local());
        HttpDownloadClient client;
        client.setMaxRedirects(2);
        client.setDownloadFolder(out_);
        client.setLocalPath(local());
        ASSERT_EQ(client.download(Url(target), false), kDownloadDone);
        EXPECT_EQ(ReadAll(local()), data_);
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_NE(requests[1].find("\"path\": \"/files/" + name_ + "/b.bin\""), std::string::npos)
            << requests[1];
    }
}

TEST_F(DownloadTest, UrlIsDecodedPrefixedAndEscaped) {
    struct Case {
        std::string url;
        std::string requestedPath;
    };
    const std::string prefix = "/files/" + name_ + "/";
    const Case cases[] = {
        {Url("a.bin?x=1&amp;y=2"), prefix + "a.bin?x=1&y=2"},
        {Url("my file\xE9.bin"), prefix + "my%20file%E9.bin"},
        {"  127.0.0.1:" + std::to_string(WebsidePort()) + prefix + "a.bin?plain=1 ",
         prefix + "a.bin?plain=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        AskWebside("POST", "/_reset");
        HttpDownloadClient client;
        client.setDownloadFolder(out_);
        client.setLocalPath(local());
        client.download(c.url, true);
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_NE(requests[0].find("\"path\": \"" + c.requestedPath + "\""), std::string::npos)
            << requests[0];
    }
}

TEST_F(DownloadTest, UnusableRequestsFailBeforeAnyConnection) {
    HttpDownloadClient empty;
    empty.setDownloadFolder(out_);
    EXPECT_EQ(empty.download("   ", false), kDownloadFailed);
    EXPECT_EQ(empty.lastError(), kDownloadBadUrl);

    HttpDownloadClient noPath;
    noPath.setDownloadFolder(out_);
    EXPECT_EQ(noPath.download("http://127.0.0.1", false), kDownloadFailed);
    EXPECT_EQ(noPath.lastError(), kDownloadBadUrl);

    HttpDownloadClient longPath;
    longPath.setDownloadFolder(out_);
    longPath.setLocalPath(Join(out_, std::string(256, 'n')));
    EXPECT_EQ(longPath.download(Url("a.bin"), false), kDownloadFailed);
    EXPECT_EQ(longPath.lastError(), kDownloadPathTooLong);
    EXPECT_TRUE(Requests().empty());
}

TEST_F(DownloadTest, RefusedConnectionIsRetriedElevenTimes) {
    // Nothing listens on port 1 here: every connection is refused at once.
    HttpDownloadClient client;
    client.setRetry(1, 0, 0);
    client.setDownloadFolder(out_);
    client.setLocalPath(local());
    EXPECT_EQ(client.download("http://127.0.0.1:1/files/a.bin", false), kDownloadFailed);
    EXPECT_EQ(client.lastError(), 0);
    EXPECT_EQ(client.retryCountSoFar(), 11);
}

TEST_F(DownloadTest, LastModifiedInJuneGivesJuneFileTime) {
    // Tue, 15 Jun 2021 12:00:00 GMT, read back as local time: mid-June in any zone.
    ASSERT_TRUE(SetFileModificationTime(Join(served_, "a.bin"), 1623758400));
    ASSERT_EQ(client_.download(Url("a.bin"), false), kDownloadDone);
    const time_t stamp = ModificationTime(local());
    const std::tm* parts = std::localtime(&stamp);
    ASSERT_NE(parts, nullptr);
    EXPECT_EQ(parts->tm_year, 121);
    EXPECT_EQ(parts->tm_mon, 5);
    EXPECT_EQ(parts->tm_mday, 15);
}

TEST_F(DownloadTest, DateReading) {
    struct Case {
        const char* value;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {"wed, 09 jun 2021 10:18:14 gmt", 2021, 6, 9, 10, 18, 14},
        {"sunday,  01 dec 1999 23:59:58 gmt", 1999, 12, 1, 23, 59, 58},
        {"mon, 05 xyz 2010 01:02:03 gmt", 2010, 1, 5, 1, 2, 3},  // unknown month: January
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        time_t when = 0;
        ASSERT_TRUE(HttpDownloadClient::readHttpDate(c.value, when));
        const std::tm* parts = std::localtime(&when);
        ASSERT_NE(parts, nullptr);
        EXPECT_EQ(parts->tm_year + 1900, c.year);
        EXPECT_EQ(parts->tm_mon + 1, c.month);
        EXPECT_EQ(parts->tm_mday, c.day);
        EXPECT_EQ(parts->tm_hour, c.hour);
        EXPECT_EQ(parts->tm_min, c.minute);
        EXPECT_EQ(parts->tm_sec, c.second);
    }
    time_t untouched = 7;
    EXPECT_FALSE(HttpDownloadClient::readHttpDate("09 jun 2021 10:18:14 gmt", untouched));
    EXPECT_EQ(untouched, 7);
}

TEST_F(DownloadTest, CompleteFileFinishesWithoutWriting) {
    const std::string existing(kFileSize, 'k');
    WriteAll(local(), existing);
    ASSERT_EQ(client_.download(Url("a.bin"), false), kDownloadDone);
    EXPECT_EQ(ReadAll(local()), existing);
    EXPECT_FALSE(fs::exists(local() + ".down"));
    EXPECT_EQ(LoadDoneAmount(progress_), kFileSize / 1024);
}

TEST_F(DownloadTest, ServerNamingAnotherFile) {
    // With a local path given, the request is asked again once and the caller's path wins.
    ASSERT_EQ(client_.download(Url("a.bin?disposition=Other.BIN"), false), kDownloadDone);
    EXPECT_EQ(ReadAll(local()), data_);
    EXPECT_EQ(Requests().size(), 2u);

    // Without one, the server's name (lower-cased) becomes the file in the folder.
    AskWebside("POST", "/_reset");
    HttpDownloadClient client;
    client.setDownloadFolder(out_);
    ASSERT_EQ(client.download(Url("a.bin?disposition=Named.bin"), false), kDownloadDone);
    EXPECT_EQ(client.resultPath(), Join(out_, "named.bin"));
    EXPECT_EQ(ReadAll(Join(out_, "named.bin")), data_);
    EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(DownloadTest, ResumptionsWithoutProgressAreBounded) {
    // Every answer ignores the range and drops at the same place: the partial file never
    // grows past 4000 bytes.
    ASSERT_EQ(client_.download(Url("a.bin?norange=1&drop=4000"), false), kDownloadFailed);
    EXPECT_EQ(client_.lastError(), 200);
    EXPECT_EQ(Requests().size(), 2u + HttpDownloadClient::kMaxStalledResumptions);
    EXPECT_FALSE(fs::exists(local()));
}

#ifndef _WIN32
TEST_F(DownloadTest, PersistentWriteFailureEndsInFailure) {
    // A file size limit plays the full disk: every write past 2000 bytes fails.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = client_.download(Url("a.bin"), false);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, kDownloadFailed);
    EXPECT_EQ(client_.lastError(), 206);
    EXPECT_EQ(fs::file_size(local() + ".down"), 2000u);
    EXPECT_FALSE(fs::exists(local()));
    // The first attempt stored 2000 bytes; then every resumption stalls.
    EXPECT_EQ(Requests().size(), 2u + HttpDownloadClient::kMaxStalledResumptions);
}
#endif

TEST_F(DownloadTest, StopEndsTheDownloadPromptly) {
    WriteAll(Join(served_, "big.bin"), Pattern(1 << 20));
    struct Case {
        const char* query;
        bool whileReceiving;
        int code;
    };
    const Case cases[] = {
        {"big.bin?rate=40000", true, kDownloadStopped},
        {"big.bin?stall=30000", false, 0},  // waiting for the header: no 1006
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        HttpDownloadClient client;
        client.setRetry(1, 0, 0);
        client.setDownloadFolder(out_);
        client.setLocalPath(Join(out_, "big.bin"));
        fs::remove(Join(out_, "big.bin.down"));
        int result = -1;
        std::thread worker([&] { result = client.download(Url(c.query), true); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        if (c.whileReceiving) {
            while (client.receivedKiB() < 10 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_GE(client.receivedKiB(), 10u);
        } else {
            while (Requests().empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        client.abort();
        worker.join();
        EXPECT_EQ(result, kDownloadStoppedResult);
        EXPECT_EQ(client.lastError(), c.code);
        // The partial file is kept for a later resumption.
        EXPECT_EQ(fs::exists(Join(out_, "big.bin.down")), c.whileReceiving);
        AskWebside("POST", "/_reset");
    }

    HttpDownloadClient early;
    early.setDownloadFolder(out_);
    early.abort();
    EXPECT_EQ(early.download(Url("a.bin"), false), kDownloadStoppedResult);
}

}  // namespace
