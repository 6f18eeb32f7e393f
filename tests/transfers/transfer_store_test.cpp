// The transfer manager as the store runs it on Windows: the hand-off of a finished
// download-and-open to a host window of this thread (only for the store's own host ID,
// else to the shell), and one download through the real client from the web side stand-in.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "hostlink/message_window.h"
#include "store/files/store_identity.h"
#include "store/transfers/real_transfer_runner.h"
#include "store/transfers/store_transfer_host.h"
#include "store/transfers/transfer_manager.h"
#include "tests/transfers/fake_transfer_runner.h"

namespace fs = std::filesystem;

namespace {

class FixedIdentity : public IStoreIdentity {
public:
    explicit FixedIdentity(int id) : hostId(id) {}
    int HostId() const override { return hostId; }
    HWND MainWindow() const override { return nullptr; }
    int hostId;
};

// A host window of this thread that keeps what it is sent.
class HostRecorder {
public:
    explicit HostRecorder(int hostId) {
        m_window = CreateMessageOnlyWindow("PxTransferTestHost", HostWindowTitle(hostId).c_str(),
                                           Proc, this);
    }
    ~HostRecorder() {
        DestroyWindow(m_window);
        UnregisterMessageWindowClass("PxTransferTestHost");
    }
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    bool Created() const { return m_window != nullptr; }
    std::vector<ReceivedText> received;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<HostRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_COPYDATA && self != nullptr) {
            self->received.push_back(ReadCopyData(lParam));
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND m_window = nullptr;
};

// Lets sent messages through until `done` holds.
bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kTransferTestPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        SleepDeliveringSentMessages(10);
    }
    return true;
}

TEST(StoreTransferHostTest, FinishedDownloadGoesToTheHostOnlyWhenTheHostIdsMatch) {
    HostRecorder host(5);
    ASSERT_TRUE(host.Created());
    FixedIdentity identity(5);
    CLinkWorkers workers;
    std::vector<std::string> shellOpened;
    StoreTransferHost services(&identity, workers,
                               [&](const std::string& path) { shellOpened.push_back(path); });
    const std::string cache = (fs::temp_directory_path() / "px_transfer_host").string();
    FakeTransferRunner runner;
    TransferStartGate gate(nullptr, 0);
    TransferTimings timings;
    timings.lingerMs = 0;
    {
        TransferManager manager(runner, services, gate, timings);
        manager.setUserCacheFolder(cache);
        manager.startDownloadAndOpen(1, "http://127.0.0.1/a", "", "a.max", 5);
        manager.startDownloadAndOpen(2, "http://127.0.0.1/b", "", "b.max", 3);
        runner.Release("http://127.0.0.1/a", 0);
        runner.Release("http://127.0.0.1/b", 0);
        ASSERT_TRUE(PumpUntil([&] {
            std::string all;
            return manager.GetAllProgress(all) && all == "\"\"" && !host.received.empty();
        }));
    }
    workers.WaitAll();
    ASSERT_EQ(host.received.size(), 1u);
    EXPECT_EQ(host.received[0].code, PXCD_OPEN_FILE);
    EXPECT_EQ(host.received[0].text, cache + "\\a.max");
    ASSERT_EQ(shellOpened.size(), 1u);
    EXPECT_EQ(shellOpened[0], cache + "\\b.max");

    // A store without a host opens everything with the shell.
    shellOpened.clear();
    StoreTransferHost hostless(nullptr, workers,
                               [&](const std::string& path) { shellOpened.push_back(path); });
    hostless.OpenDownloadedFile("C:\\x.max", 0);
    EXPECT_EQ(shellOpened, std::vector<std::string>{"C:\\x.max"});
    std::error_code ignored;
    fs::remove_all(cache, ignored);
}

std::string WebsideRoot() {
    const char* root = std::getenv("PX_WEBSIDE_ROOT");
    std::string path = root == nullptr ? std::string() : root;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return "Z:" + path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(StoreTransferDownloadTest, DownloadsFromTheWebSideIntoTheCacheAndTheFinalPath) {
    const char* port = std::getenv("PX_WEBSIDE_PORT");
    ASSERT_NE(port, nullptr) << "run through tests/run_with_webside.sh";
    std::string body;
    for (int i = 0; body.size() < 20000; ++i) {
        body += std::to_string(i) + ",";
    }
    body.resize(20000);
    {
        std::ofstream served(WebsideRoot() + "\\manager.bin", std::ios::binary);
        served << body;
    }
    const std::string work = (fs::temp_directory_path() / "px_transfer_e2e").string();
    std::error_code ignored;
    fs::remove_all(work, ignored);

    CLinkWorkers workers;
    StoreTransferHost services(nullptr, workers, [](const std::string&) {});
    RealTransferRunner runner;
    std::string lastStatus;
    {
        TransferManager manager(runner, services);
        ASSERT_TRUE(manager.setUserCacheFolder(work + "\\cache"));
        manager.startDownload(7, "http://127.0.0.1:" + std::string(port) + "/files/manager.bin",
                              work + "\\final\\manager.bin", "models\\manager.bin");
        // The finished record lingers with its figures in KiB: 20000 bytes are 19 KiB.
        const auto deadline = std::chrono::steady_clock::now() + kTransferTestPatience;
        while (lastStatus != "\"7,19,19,0;\"" && std::chrono::steady_clock::now() < deadline) {
            lastStatus = manager.GetTransStatus();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(lastStatus, "\"7,19,19,0;\"");
    EXPECT_EQ(ReadAll(work + "\\cache\\models\\manager.bin"), body);
    EXPECT_EQ(ReadAll(work + "\\final\\manager.bin"), body);
    fs::remove_all(work, ignored);
}

}  // namespace
