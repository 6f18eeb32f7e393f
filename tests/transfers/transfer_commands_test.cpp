// The transfer commands through the dispatcher: their replies, the fields they refuse, and
// the paths and values the manager ends up with after argument preparation.
#include "store/transfers/transfer_commands.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/shell/script_commands.h"
#include "store/transfers/transfer_manager.h"
#include "tests/transfers/fake_transfer_runner.h"

namespace {

class TransferCommandsTest : public ::testing::Test {
protected:
    TransferCommandsTest() : m_gate(nullptr, 0), m_manager(m_runner, m_host, m_gate, Timings()) {
        m_manager.setUserCacheFolder("C:\\cache");
        m_manager.setDefaultUploadUrl("http://127.0.0.1/Upload/uploadtest.asp");
        RegisterTransferCommands(m_commands);
        m_commands.SetTransferManager(&m_manager, "C:\\cache");
    }

    static TransferTimings Timings() {
        TransferTimings timings;
        timings.lingerMs = 0;
        return timings;
    }

    ScriptResult Call(const std::string& name, const std::string& arguments) {
        ScriptResult result;
        m_commands.Dispatch(name, arguments, result);
        return result;
    }

    int Signed(const std::string& name, const std::string& arguments) {
        const ScriptResult result = Call(name, arguments);
        EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kSigned) << name << " " << arguments;
        return result.Signed();
    }

    std::string AllProgress() {
        const ScriptResult result = Call("GetAllProgress", "");
        EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kText);
        return result.Text();
    }

    // True once no transfer is listed any more.
    bool Idle() {
        const auto deadline = std::chrono::steady_clock::now() + kTransferTestPatience;
        while (AllProgress() != "\"\"") {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    FakeTransferRunner m_runner;
    FakeTransferHost m_host;
    TransferStartGate m_gate;
    TransferManager m_manager;
    CScriptCommands m_commands;
};

TEST_F(TransferCommandsTest, RefusedRequestsReplyMinusOneAndChangeNothing) {
    struct Row {
        const char* name;
        const char* arguments;
        int reply;
    };
    const Row rows[] = {
        {"StartDownloadFile", "1*http://127.0.0.1/a*D:\\out", -1},
        {"StartDownloadFile", "1*http://127.0.0.1/a*D:\\out*a.max*x", -1},
        {"StartDownloadFile", "0*http://127.0.0.1/a*D:\\out*a.max", -1},
        {"StartDownloadFile", "1**D:\\out*a.max", -1},
        {"DownloadAndOpenFile", "1*http://127.0.0.1/a*a.max", -1},
        {"DownloadAndOpenFile", "-2*http://127.0.0.1/a*a.max*14", -1},
        {"DownloadAndOpenFile", "x*http://127.0.0.1/a*a.max*14", -1},
        {"DownloadAndOpenFile", "1**a.max*14", -1},
        {"StartUploadFile", "1*C:\\a.txt*guid", -1},
        {"StartUploadFile", "0*C:\\a.txt*guid*", -1},
        {"StartUploadFile", "1**guid*", -1},
        {"StopTransFile", "", -1},
        {"StopTransFile", "5", -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Signed(row.name, row.arguments), row.reply) << row.name << " " << row.arguments;
    }
    EXPECT_EQ(AllProgress(), "\"\"");
}

TEST_F(TransferCommandsTest, AcceptedRequestsReachTheManagerPrepared) {
    m_runner.Release("http://127.0.0.1/a", 0);
    m_runner.Release("http://127.0.0.1/b", 0);
    m_runner.Release("http://127.0.0.1/Upload/uploadtest.asp", 0);
    // StartDownloadFile never tells the movie anything but -1.
    EXPECT_EQ(Signed("startdownloadfile", "1*http://127.0.0.1/a*D:/out/ * models// a.max "), -1);
    EXPECT_EQ(Signed("DownloadAndOpenFile", " 2x*http://127.0.0.1/b*sub/ b.max *14"), 0);
    EXPECT_EQ(Signed("StartUploadFile", "3*C:/up//f.txt*guid-3*"), 0);
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/a"));
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/b"));
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/Upload/uploadtest.asp"));
    ASSERT_TRUE(Idle());
    for (const FakeTransferRunner::Call& call : m_runner.Calls()) {
        if (call.url == "http://127.0.0.1/a") {
            EXPECT_EQ(call.localPath, "C:\\cache\\models\\a.max");
        } else if (call.url == "http://127.0.0.1/b") {
            EXPECT_EQ(call.localPath, "C:\\cache\\sub\\b.max");
        } else {
            EXPECT_TRUE(call.upload);
            EXPECT_EQ(call.localPath, "C:\\up\\f.txt");
            EXPECT_EQ(call.guid, "guid-3");
        }
    }
    const auto copies = m_host.Get(m_host.copies);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].second, "D:\\out\\a.max");
    const auto opened = m_host.Get(m_host.opened);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].first, "C:\\cache\\sub\\b.max");
    EXPECT_EQ(opened[0].second, 14);
}

TEST_F(TransferCommandsTest, StopTransFileRemovesWaitingAndStopsActive) {
    m_manager.setMaxDownloadCount(1);
    EXPECT_EQ(Signed("DownloadAndOpenFile", "1*http://127.0.0.1/a*a.max*14"), 0);
    EXPECT_EQ(Signed("DownloadAndOpenFile", "2*http://127.0.0.1/b*b.max*14"), 0);
    EXPECT_EQ(AllProgress(), "\"1;2;\"");
    EXPECT_EQ(Signed("StopTransFile", "2"), -1);
    EXPECT_EQ(AllProgress(), "\"1;\"");
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/a"));
    EXPECT_EQ(Signed("StopTransFile", " 1"), 0);
    EXPECT_TRUE(Idle());
}

TEST_F(TransferCommandsTest, StartDownloadFileBuildsTheFinalPathFromTheLastComponent) {
    struct Row {
        const char* arguments;
        const char* localPath;
        const char* copiedTo;
    };
    const Row rows[] = {
        {"1*http://127.0.0.1/1*D:/out/ * models// a.max ", "C:\\cache\\models\\a.max",
         "D:\\out\\a.max"},
        // No destination: the cache file is the result.
        {"2*http://127.0.0.1/2* *m/b.max", "C:\\cache\\m\\b.max", nullptr},
        // A relative path ending in a separator has no name: the bare destination is used.
        {"3*http://127.0.0.1/3*D:\\out*m\\", "C:\\cache\\m\\", "D:\\out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        m_host.copies.clear();
        const std::string url = "http://127.0.0.1/" + std::string(1, row.arguments[0]);
        m_runner.Release(url, 0);
        EXPECT_EQ(Signed("StartDownloadFile", row.arguments), -1);
        ASSERT_TRUE(m_runner.WaitStarted(url));
        EXPECT_EQ(m_runner.Calls().back().localPath, row.localPath);
        ASSERT_TRUE(Idle());
        const auto copies = m_host.Get(m_host.copies);
        if (row.copiedTo == nullptr) {
            EXPECT_TRUE(copies.empty());
        } else {
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(copies[0].second, row.copiedTo);
        }
    }
}

TEST_F(TransferCommandsTest, StatusQueriesGoThroughTheDispatcherAndGoQuietWhenClosing) {
    const ScriptResult status = Call("GetTransStatus", "");
    EXPECT_EQ(status.GetKind(), ScriptResult::Kind::kText);
    EXPECT_EQ(status.Text(), "\"\"");
    EXPECT_EQ(AllProgress(), "\"\"");
    m_manager.shutdown();
    EXPECT_EQ(Call("GetAllProgress", "").GetKind(), ScriptResult::Kind::kEmpty);
    EXPECT_EQ(Call("GetTransStatus", "").Text(), "");
}

TEST(TransferCommandsWithoutManagerTest, RefuseEverything) {
    CScriptCommands commands;
    RegisterTransferCommands(commands);
    ScriptResult result;
    commands.Dispatch("DownloadAndOpenFile", "1*http://127.0.0.1/a*a.max*14", result);
    EXPECT_EQ(result.Signed(), -1);
    ScriptResult progress;
    commands.Dispatch("GetAllProgress", "", progress);
    EXPECT_EQ(progress.GetKind(), ScriptResult::Kind::kEmpty);
}

}  // namespace
