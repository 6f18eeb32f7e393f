// Tests of the activity log: exact banners, the 1020-character cut, literal "%", appending
// across runs, closed and unopenable logs, and whole lines under concurrent writers.
#include "store/shell/activity_log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/temp_log.h"

namespace {

const char kBeginBanner[] = "===========================LOG BEGIN=======================";
const char kEndBanner[] = "============================LOG END========================";
const std::string kTimePattern = "\\d{4}-\\d{2}-\\d{2}-\\d{2}-\\d{2}";

std::string BeginPattern() {
    return kBeginBanner + kTimePattern + kDiskLineEnd;
}

// The end banner carries its own "\r\n", so an empty line follows it.
std::string EndPattern() {
    return kEndBanner + kTimePattern + kDiskLineEnd + kDiskLineEnd;
}

class ActivityLogTest : public ::testing::Test {
protected:
    TempLogFolder m_folder;
};

TEST_F(ActivityLogTest, BannersFrameTheLinesOfOneRun) {
    ASSERT_EQ(std::strlen(kBeginBanner), 59u);
    ASSERT_EQ(std::strlen(kEndBanner), 59u);
    ASSERT_TRUE(m_folder.Open());
    EXPECT_EQ(LogLine("Function=%s, Arguments=%s", "Init", ""), 25);
    std::string content = m_folder.CloseAndRead();

    std::regex expected(BeginPattern() + "Function=Init, Arguments=" + kDiskLineEnd + EndPattern());
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
}

TEST_F(ActivityLogTest, SecondRunAppendsAfterTheFirstRunsEndBanner) {
    ASSERT_TRUE(m_folder.Open());
    LogLine("first run");
    CloseActivityLog();
    ASSERT_TRUE(m_folder.Open());
    LogLine("second run");
    std::string content = m_folder.CloseAndRead();

    std::regex expected(BeginPattern() + "first run" + kDiskLineEnd + EndPattern() +
                        BeginPattern() + "second run" + kDiskLineEnd + EndPattern());
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
}

TEST_F(ActivityLogTest, LinesAreCutAfter1020Characters) {
    struct Case {
        size_t argumentLength;
        bool cut;
    };
    const Case cases[] = {{0, false}, {1020, false}, {1021, true}, {2000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argumentLength);
        TempLogFolder folder;
        ASSERT_TRUE(folder.Open());
        std::string argument(c.argumentLength, 'x');
        int written = LogLine("%s", argument.c_str());
        if (c.cut) {
            EXPECT_LT(written, 0);
        } else {
            EXPECT_EQ(written, static_cast<int>(c.argumentLength));
        }
        std::string content = folder.CloseAndRead();
        size_t lineStart = content.find(kDiskLineEnd) + kDiskLineEnd.size();
        std::string expectedLine =
            std::string(c.cut ? 1020 : c.argumentLength, 'x') + kDiskLineEnd + kEndBanner;
        EXPECT_EQ(content.compare(lineStart, expectedLine.size(), expectedLine), 0);
    }
}

TEST_F(ActivityLogTest, PercentInArgumentsComesOutLiterally) {
    ASSERT_TRUE(m_folder.Open());
    LogLine("Function=%s, Arguments=%s", "OpenFile", "C:\\100%s\\%d%n.max*%%");
    std::vector<std::string> lines = m_folder.CloseAndReadBody();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Function=OpenFile, Arguments=C:\\100%s\\%d%n.max*%%");
}

TEST_F(ActivityLogTest, UnopenableLogWritesNothingAndStaysHarmless) {
    std::string path = m_folder.Folder() + "/missing/log.txt";
    EXPECT_FALSE(OpenActivityLog(path.c_str()));
    EXPECT_FALSE(OpenActivityLog(nullptr));
    EXPECT_EQ(LogLine("Function=%s, Arguments=%s", "Init", "x"), 0);
    CloseActivityLog();
    EXPECT_FALSE(std::filesystem::exists(path));
    // The failed run leaves the log usable for a later open.
    ASSERT_TRUE(m_folder.Open());
    LogLine("after");
    EXPECT_EQ(m_folder.CloseAndReadBody(), std::vector<std::string>{"after"});
}

TEST_F(ActivityLogTest, ClosedLogIgnoresLines) {
    EXPECT_EQ(LogLine("before open"), 0);
    ASSERT_TRUE(m_folder.Open());
    EXPECT_FALSE(m_folder.Open());  // one log per run: a second open changes nothing
    LogLine("while open");
    std::string content = m_folder.CloseAndRead();
    EXPECT_EQ(LogLine("after close"), 0);
    CloseActivityLog();  // a second close writes no second end banner
    EXPECT_EQ(m_folder.Read(), content);
    EXPECT_EQ(content.find("before open"), std::string::npos);
    EXPECT_EQ(content.find(kBeginBanner, 1), std::string::npos);
}

// Writers keep going while the log is closed under them: every line on disk must be whole,
// none may follow the end banner, and each writer's lines keep their order.
TEST_F(ActivityLogTest, ConcurrentWritersNeverInterleaveWithinALine) {
    ASSERT_TRUE(m_folder.Open());
    const int kThreads = 4;
    const int kLinesBeforeClose = 300;
    const std::string padding(200, '.');
    std::atomic<int> threadsReady{0};
    std::vector<int> linesWritten(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            int line = 0;
            for (;; ++line) {
                if (LogLine("thread=%d line=%d %s", t, line, padding.c_str()) == 0) {
                    break;
                }
                if (line + 1 == kLinesBeforeClose) {
                    ++threadsReady;
                }
            }
            linesWritten[static_cast<size_t>(t)] = line;
        });
    }
    while (threadsReady.load() < kThreads) {
        std::this_thread::yield();
    }
    std::string content = m_folder.CloseAndRead();
    for (std::thread& thread : threads) {
        thread.join();
    }

    size_t endBanner = content.find(kEndBanner);
    ASSERT_NE(endBanner, std::string::npos);
    EXPECT_TRUE(std::regex_match(content.substr(endBanner), std::regex(EndPattern())));

    std::vector<std::string> lines = m_folder.CloseAndReadBody();
    std::vector<int> nextLine(kThreads, 0);
    for (const std::string& text : lines) {
        int t = -1;
        int line = -1;
        char rest[256] = {};
        ASSERT_EQ(std::sscanf(text.c_str(), "thread=%d line=%d %255s", &t, &line, rest), 3) << text;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(line, nextLine[static_cast<size_t>(t)]) << text;
        EXPECT_EQ(rest, padding) << text;
        nextLine[static_cast<size_t>(t)] = line + 1;
    }
    EXPECT_EQ(nextLine, linesWritten);
}

}  // namespace
