// The transfer manager over fake clients: queueing behind the limits and who starts next,
// duplicate ids, stops, the linger, the exact status replies, the paths handed to the
// clients, and shutdown with transfers in flight.
#include "store/transfers/transfer_manager.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/temp_log.h"
#include "tests/transfers/fake_transfer_runner.h"
#include "text/multibyte.h"
#include "tests/text/shift_jis_lead_bytes.h"

namespace {

// Polls until `done` holds; false when it never did.
bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kTransferTestPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string Quoted(const std::string& entries) {
    return "\"" + entries + "\"";
}

std::string Url(int id) {
    return "http://127.0.0.1/file" + std::to_string(id);
}

class TransferManagerTest : public ::testing::Test {
protected:
    explicit TransferManagerTest(uint32_t lingerMs = 50)
        : m_gate(nullptr, 0), m_manager(m_runner, m_host, m_gate, Timings(lingerMs)) {
        m_manager.setUserCacheFolder("C:\\cache");
        m_manager.setDefaultUploadUrl("http://127.0.0.1/Upload/uploadtest.asp");
    }

    static TransferTimings Timings(uint32_t lingerMs) {
        TransferTimings timings;
        timings.lingerMs = lingerMs;
        return timings;
    }

    std::string AllProgress() {
        std::string reply;
        EXPECT_TRUE(m_manager.GetAllProgress(reply));
        return reply;
    }

    bool AllProgressBecomes(const std::string& expected) {
        return Eventually([&] { return AllProgress() == expected; });
    }

    void Download(int id) { m_manager.startDownload(id, Url(id), "", "f" + std::to_string(id)); }
    void Upload(int id) {
        m_manager.startUpload(id, "C:\\up\\" + std::to_string(id), "g", Url(id));
    }

    FakeTransferRunner m_runner;
    FakeTransferHost m_host;
    TransferStartGate m_gate;
    TransferManager m_manager;
};

class TransferLingerTest : public TransferManagerTest {
protected:
    TransferLingerTest() : TransferManagerTest(2000) {}
};

TEST_F(TransferManagerTest, SixthDownloadWaitsAndOnlyTheOldestWaitingDownloadStartsNext) {
    for (int id = 1; id <= 5; ++id) {
        Download(id);
    }
    Upload(20);
    Upload(21);  // over the upload limit of 1
    Download(6);
    Download(7);
    EXPECT_EQ(AllProgress(), Quoted("1;2;3;4;5;20;21;6;7;"));
    ASSERT_TRUE(m_runner.WaitStarted(Url(5)));
    ASSERT_TRUE(m_runner.WaitStarted(Url(20)));

    m_runner.Release(Url(3), 0);
    ASSERT_TRUE(m_runner.WaitStarted(Url(6)));
    // The waiting upload ahead of it was passed over, the later download too.
    EXPECT_TRUE(AllProgressBecomes(Quoted("1;2;4;5;20;6;21;7;")));
    EXPECT_EQ(m_runner.Starts(Url(21)), 0);
    EXPECT_EQ(m_runner.Starts(Url(7)), 0);

    m_runner.Release(Url(20), 0);
    ASSERT_TRUE(m_runner.WaitStarted(Url(21)));
    EXPECT_TRUE(AllProgressBecomes(Quoted("1;2;4;5;6;21;7;")));
    EXPECT_EQ(m_runner.Starts(Url(7)), 0);
}

TEST_F(TransferManagerTest, LimitsOfZeroOrLessQueueEveryRequest) {
    for (int limit : {0, -3}) {
        SCOPED_TRACE(limit);
        m_manager.setMaxDownloadCount(limit);
        m_manager.setMaxUploadCount(limit);
        Download(1);
        m_manager.startDownloadAndOpen(2, Url(2), "C:\\cache\\b.max", "b.max", 14);
        Upload(3);
        EXPECT_EQ(m_manager.GetTransStatus(), Quoted(""));
        EXPECT_EQ(AllProgress(), Quoted("1;2;3;"));
        EXPECT_EQ(m_manager.stopTransfer(1), -1);
        EXPECT_EQ(m_manager.stopTransfer(2), -1);
        EXPECT_EQ(m_manager.stopTransfer(3), -1);
        EXPECT_EQ(AllProgress(), Quoted(""));
    }
    EXPECT_TRUE(m_runner.Calls().empty());
}

TEST_F(TransferManagerTest, DuplicateIdsAreIgnoredWhileActiveButQueuedBehindTheLimit) {
    Download(1);
    Download(1);
    Upload(1);  // any active record with the id counts, whatever its kind
    EXPECT_EQ(AllProgress(), Quoted("1;"));

    m_manager.setMaxDownloadCount(2);
    Download(2);
    Download(2);  // the limit is checked first: queued even though 2 is active
    Download(3);
    EXPECT_EQ(AllProgress(), Quoted("1;2;2;3;"));
    ASSERT_TRUE(m_runner.WaitStarted(Url(2)));

    // 1 ends: the waiting 2 is started while 2 is still active, so it is dropped.
    m_runner.Release(Url(1), 0);
    EXPECT_TRUE(AllProgressBecomes(Quoted("2;3;")));
    EXPECT_EQ(m_runner.Starts(Url(2)), 1);

    // With the limit reached a request for 2 waits again; when 2 ends, 3 (older) starts,
    // and when 3 ends, the new 2 runs.
    m_manager.setMaxDownloadCount(1);
    Download(2);
    EXPECT_EQ(AllProgress(), Quoted("2;3;2;"));
    m_runner.Release(Url(2), 0);
    ASSERT_TRUE(m_runner.WaitStarted(Url(3)));
    EXPECT_TRUE(AllProgressBecomes(Quoted("3;2;")));
    m_runner.Release(Url(3), 0);
    EXPECT_TRUE(m_runner.WaitStarted(Url(2), 2));
}

TEST_F(TransferLingerTest, StopTransFileAnswersZeroOnlyForAnActiveRecord) {
    m_manager.setMaxDownloadCount(1);
    Download(1);
    Download(2);
    Upload(3);
    ASSERT_TRUE(m_runner.WaitStarted(Url(1)));
    ASSERT_TRUE(m_runner.WaitStarted(Url(3)));

    EXPECT_EQ(m_manager.stopTransfer(2), -1);  // only waiting: removed all the same
    EXPECT_EQ(AllProgress(), Quoted("1;3;"));
    EXPECT_EQ(m_manager.stopTransfer(99), -1);

    // A stopped download ends with 1006 and goes without lingering; nothing waits behind it.
    EXPECT_EQ(m_manager.stopTransfer(1), 0);
    EXPECT_TRUE(AllProgressBecomes(Quoted("3;")));
    EXPECT_EQ(m_runner.Starts(Url(2)), 0);

    // A stopped upload ends in an exception, which lingers with 2000 plus its code.
    EXPECT_EQ(m_manager.stopTransfer(3), 0);
    EXPECT_TRUE(Eventually([&] { return m_manager.GetTransStatus() == Quoted("3,0,1024,2000;"); }));
    EXPECT_TRUE(AllProgressBecomes(Quoted("")));
}

// A linger far beyond the test's patience: a record that goes at all went without it.
class TransferEndlessLingerTest : public TransferManagerTest {
protected:
    TransferEndlessLingerTest() : TransferManagerTest(600000) {}
};

TEST_F(TransferEndlessLingerTest, StopBeforeTheDownloadClientRunsEndsItUnrun) {
    m_runner.HoldClientCreation(true);
    Download(1);
    ASSERT_TRUE(m_runner.WaitCreationAsked());
    EXPECT_EQ(m_manager.stopTransfer(1), 0);
    m_runner.HoldClientCreation(false);
    // The stop holds: the client never runs, and the record goes without lingering, as a
    // download stopped while receiving does.
    EXPECT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_EQ(m_runner.Starts(Url(1)), 0);
}

TEST_F(TransferLingerTest, StopDuringPackingEndsTheUploadUnsentWithTheStopCode) {
    m_runner.HoldPacking(true);
    m_manager.startUpload(5, "C:\\up\\folder.PLENTHRA_UNZIP", "g", Url(5));
    ASSERT_TRUE(m_runner.WaitPackingAsked());
    EXPECT_EQ(m_manager.stopTransfer(5), 0);
    m_runner.HoldPacking(false);
    // A stopped upload shows 2000 for its linger; nothing was posted, the package is gone.
    EXPECT_TRUE(Eventually([&] { return m_manager.GetTransStatus() == Quoted("5,0,1024,2000;"); }));
    EXPECT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_EQ(m_runner.Starts(Url(5)), 0);
    EXPECT_TRUE(m_runner.PackingSawStop());
    EXPECT_EQ(m_runner.RemovedPackages().size(), 1u);
}

TEST_F(TransferLingerTest, FolderThatCannotBePackedFailsWithItsOwnCodeAndPostsNothing) {
    m_runner.packageSucceeds = false;
    m_manager.startUpload(6, "C:\\up\\folder.PLENTHRA_UNZIP", "g", Url(6));
    EXPECT_TRUE(Eventually([&] {
        return m_manager.GetTransStatus() ==
               Quoted("6,0,1024," + std::to_string(kUploadPackageFailedStatus) + ";");
    }));
    EXPECT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_EQ(m_runner.Starts(Url(6)), 0);
}

TEST_F(TransferManagerTest, DoubledBackslashesCollapseByWholeCharacters) {
    // Shift-JIS lead bytes: 0x95 0x5C is one character whose trail byte is a backslash.
    ShiftJisLeadBytes shiftJis;
    m_manager.startDownload(1, Url(1), "D:\\\x95\x5C\\a.max", "\x95\x5C\\b.max");
    m_manager.startUpload(2, "C:\\up\\\x95\x5C\\c.txt", "g", Url(2));
    ASSERT_TRUE(m_runner.WaitStarted(Url(1)));
    ASSERT_TRUE(m_runner.WaitStarted(Url(2)));
    for (const FakeTransferRunner::Call& call : m_runner.Calls()) {
        if (call.upload) {
            EXPECT_EQ(call.localPath, "C:\\up\\\x95\x5C\\c.txt");
        } else {
            EXPECT_EQ(call.localPath, "C:\\cache\\\x95\x5C\\b.max");
            EXPECT_EQ(call.folder, "C:\\cache\\\x95\x5C");
        }
    }
    m_runner.Release(Url(1), 0);
    m_runner.Release(Url(2), 0);
    ASSERT_TRUE(AllProgressBecomes(Quoted("")));
    const auto copies = m_host.Get(m_host.copies);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].second, "D:\\\x95\x5C\\a.max");
}

TEST_F(TransferManagerTest, StatusRepliesAreExactTexts) {
    EXPECT_EQ(m_manager.GetTransStatus(), Quoted(""));
    EXPECT_EQ(AllProgress(), Quoted(""));

    m_manager.setMaxDownloadCount(2);
    m_runner.SetPlan(Url(12), {true, 340, 2048, 0});
    Download(12);
    Download(13);
    Download(14);
    ASSERT_TRUE(m_runner.WaitStarted(Url(12)));
    ASSERT_TRUE(m_runner.WaitStarted(Url(13)));
    // A started client that has written nothing yet still shows the initial figures.
    EXPECT_EQ(m_manager.GetTransStatus(), Quoted("12,340,2048,0;13,0,1024,1;"));
    EXPECT_EQ(AllProgress(), Quoted("12;13;14;"));

    m_manager.shutdown();
    EXPECT_EQ(m_manager.GetTransStatus(), "");
    std::string reply = "untouched";
    EXPECT_FALSE(m_manager.GetAllProgress(reply));
    EXPECT_EQ(reply, "untouched");
}

TEST_F(TransferManagerTest, UrlWithoutHttpRunsNothingAndStillHandsTheFileOn) {
    m_manager.startDownloadAndOpen(4, "ftp://127.0.0.1/x", "C:\\cache\\x.max", "x.max", 14);
    EXPECT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_TRUE(m_runner.Calls().empty());
    const auto opened = m_host.Get(m_host.opened);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].first, "C:\\cache\\x.max");
    EXPECT_EQ(opened[0].second, 14);
}

TEST_F(TransferManagerTest, DownloadPathsAndTheCopyToTheFinalPath) {
    struct Row {
        const char* cache;
        const char* finalPath;
        const char* relative;
        const char* folder;
        const char* localPath;
        const char* copiedTo;  // null: no copy
    };
    const Row rows[] = {
        {"C:\\cache", "D:\\out\\a.max", "models\\a.max", "C:\\cache\\models",
         "C:\\cache\\models\\a.max", "D:\\out\\a.max"},
        // No final path: the file stays where it was written.
        {"C:\\cache\\", "", "b.max", "C:\\cache", "C:\\cache\\b.max", nullptr},
        // The same path in other letter case is no copy; doubled backslashes collapse.
        {"C:\\cache\\", "c:\\CACHE\\c.max", "\\c.max", "C:\\cache\\", "C:\\cache\\c.max", nullptr},
        {"C:\\cache", "D:\\\\out\\\\\\d.max", "x\\\\d.max", "C:\\cache\\x\\", "C:\\cache\\x\\d.max",
         "D:\\out\\\\d.max"},
    };
    int id = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.relative);
        m_manager.setUserCacheFolder(row.cache);
        const std::string url = Url(id);
        m_manager.startDownload(id++, url, row.finalPath, row.relative);
        ASSERT_TRUE(m_runner.WaitStarted(url));
        const FakeTransferRunner::Call call = m_runner.Calls().back();
        EXPECT_EQ(call.folder, row.folder);
        EXPECT_EQ(call.localPath, row.localPath);
        EXPECT_EQ(m_host.Get(m_host.createdFolders).back(), row.folder);
        m_runner.Release(url, 0);
        ASSERT_TRUE(AllProgressBecomes(Quoted("")));
        const auto copies = m_host.Get(m_host.copies);
        if (row.copiedTo == nullptr) {
            EXPECT_TRUE(copies.empty());
        } else {
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(copies[0].first, row.localPath);
            EXPECT_EQ(copies[0].second, row.copiedTo);
        }
        m_host.copies.clear();
    }
}

TEST_F(TransferManagerTest, DownloadAndOpenHandsOnTheWrittenPathAfterSuccessAndFailure) {
    m_manager.startDownloadAndOpen(1, Url(1), "C:\\cache\\a.max", "a.max", 14);
    m_manager.startDownloadAndOpen(2, Url(2), "C:\\cache\\b.max", "b.max", 3);
    ASSERT_TRUE(m_runner.WaitStarted(Url(1)));
    ASSERT_TRUE(m_runner.WaitStarted(Url(2)));
    m_runner.Release(Url(1), 0, "C:\\cache\\a (1).max");
    m_runner.Release(Url(2), 404);
    ASSERT_TRUE(AllProgressBecomes(Quoted("")));
    auto opened = m_host.Get(m_host.opened);
    ASSERT_EQ(opened.size(), 2u);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened[0], std::make_pair(std::string("C:\\cache\\a (1).max"), 14));
    EXPECT_EQ(opened[1], std::make_pair(std::string("C:\\cache\\b.max"), 3));
    // A file written under another name than the asked one is copied to the asked path.
    const auto copies = m_host.Get(m_host.copies);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].second, "C:\\cache\\a.max");
}

TEST_F(TransferLingerTest, UploadsUseTheDefaultUrlAndSendFoldersAsPackages) {
    m_manager.setMaxUploadCount(3);
    m_manager.startUpload(1, "C:\\\\up\\\\f.txt", "guid-1", "");
    m_manager.startUpload(2, "C:\\up\\folder.PLENTHRA_UNZIP", "guid-2", Url(2));
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/Upload/uploadtest.asp"));
    ASSERT_TRUE(m_runner.WaitStarted(Url(2)));
    for (const FakeTransferRunner::Call& call : m_runner.Calls()) {
        ASSERT_TRUE(call.upload);
        if (call.guid == "guid-1") {
            EXPECT_EQ(call.localPath, "C:\\up\\f.txt");
        } else {
            EXPECT_EQ(call.localPath, "C:\\cache\\UploadTemp\\package.PLENTHRA_UNZIP");
        }
    }
    const auto packages = m_runner.Packages();
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_EQ(packages[0].first, "C:\\up\\folder");
    EXPECT_EQ(packages[0].second, "C:\\cache");

    // A failed post lingers with 2000 plus the client's code; the package goes either way.
    m_runner.Release(Url(2), 12);
    EXPECT_TRUE(Eventually(
        [&] { return m_manager.GetTransStatus().find("2,0,1024,2012;") != std::string::npos; }));
    m_runner.Release("http://127.0.0.1/Upload/uploadtest.asp", 0);
    ASSERT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_EQ(m_runner.RemovedPackages(),
              std::vector<std::string>{"C:\\cache\\UploadTemp\\package.PLENTHRA_UNZIP"});
}

TEST_F(TransferManagerTest, CacheFolderThatCannotBeMadeIsEmptyAndUploadsSkipTheirTransfer) {
    m_host.foldersCanBeMade = false;
    EXPECT_FALSE(m_manager.setUserCacheFolder("Q:\\nowhere"));
    EXPECT_EQ(m_manager.userCacheFolder(), "");
    Upload(1);
    ASSERT_TRUE(AllProgressBecomes(Quoted("")));
    EXPECT_TRUE(m_runner.Calls().empty());
}

TEST_F(TransferLingerTest, FinishedRecordShowsItsLastStatusThenGoesAndLogsItsRemoval) {
    TempLogFolder log;
    ASSERT_TRUE(log.Open());
    m_manager.setMaxDownloadCount(1);
    m_runner.SetPlan(Url(1), {true, 7, 9, 0});
    Download(1);
    Download(2);
    ASSERT_TRUE(m_runner.WaitStarted(Url(1)));
    m_runner.Release(Url(1), 404);
    EXPECT_TRUE(Eventually([&] { return m_manager.GetTransStatus() == Quoted("1,7,9,404;"); }));
    EXPECT_EQ(AllProgress(), Quoted("1;2;"));
    ASSERT_TRUE(m_runner.WaitStarted(Url(2)));
    EXPECT_EQ(m_manager.GetTransStatus(), Quoted("2,0,1024,1;"));
    m_manager.shutdown();
    const std::vector<std::string> lines = log.CloseAndReadBody();
    const std::vector<std::string> expected = {
        "ProgressListCount=1; TransWaitingListCount=1",
        "count=1",
        "nSetEventTime=0",
        "ProgressListCount=1; TransWaitingListCount=0",
    };
    EXPECT_EQ(lines, expected);
}

TEST(TransferShutdownTest, WorkerThatIgnoresItsStopIsLeftAfterTheBound) {
    FakeTransferRunner runner;
    FakeTransferHost host;
    TransferStartGate gate(nullptr, 0);
    TransferTimings timings;
    timings.shutdownWaitMs = 500;
    auto manager = std::make_unique<TransferManager>(runner, host, gate, timings);
    manager->setUserCacheFolder("C:\\cache");
    runner.IgnoreAborts(Url(1));
    manager->startDownloadAndOpen(1, Url(1), "C:\\cache\\f.max", "f.max", 14);
    manager->startDownload(2, Url(2), "", "g.max");
    ASSERT_TRUE(runner.WaitStarted(Url(1)));
    ASSERT_TRUE(runner.WaitStarted(Url(2)));

    // The wait and the join grace, not the blocked worker, decide when shutdown returns.
    const auto started = std::chrono::steady_clock::now();
    auto done = std::async(std::launch::async, [&] { manager->shutdown(); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(timings.shutdownWaitMs));
    EXPECT_TRUE(manager->workersLeft());

    // Once it does end, the left worker hands nothing to the host any more.
    runner.Release(Url(1), 0);
    manager.reset();
    EXPECT_TRUE(host.opened.empty());
}

TEST(TransferShutdownTest, FiveActiveTransfersEndAndEveryThreadIsJoined) {
    TempLogFolder log;
    ASSERT_TRUE(log.Open());
    FakeTransferRunner runner;
    FakeTransferHost host;
    // The store's own gate: workers still waiting to pass it must not hold shutdown up.
    auto manager = std::make_unique<TransferManager>(runner, host);
    manager->setUserCacheFolder("C:\\cache");
    for (int id = 1; id <= 6; ++id) {
        manager->startDownloadAndOpen(id, Url(id), "C:\\cache\\f.max", "f.max", 14);
    }
    manager->startUpload(7, "C:\\up\\a.txt", "g", Url(7));
    manager->startUpload(8, "C:\\up\\folder.PLENTHRA_UNZIP", "g", Url(8));
    ASSERT_TRUE(runner.WaitStarted(Url(1)));

    auto done = std::async(std::launch::async, [&] { manager->shutdown(); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    // Every worker is gone: the records can be freed now without a thread touching them.
    manager.reset();

    // Nothing waiting was started during shutdown, and no stopped download was handed on.
    EXPECT_EQ(runner.Starts(Url(6)), 0);
    EXPECT_EQ(runner.Starts(Url(8)), 0);
    EXPECT_TRUE(host.opened.empty());
    const std::vector<std::string> lines = log.CloseAndReadBody();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "count=6");
    int signals = 0;
    for (const std::string& line : lines) {
        if (line.rfind("nSetEventTime=", 0) == 0) {
            EXPECT_EQ(line, "nSetEventTime=" + std::to_string(signals));
            ++signals;
        }
    }
    EXPECT_EQ(signals, 6);
}

}  // namespace
