// Test doubles of the transfer manager's runner and host: clients that block until the test
// releases their URL (or they are aborted), report chosen progress figures and record what
// they were asked; a host that records file operations and hand-offs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "store/transfers/transfer_runner.h"

// How long a test waits for a worker to get somewhere; only reached when something is wrong.
constexpr std::chrono::seconds kTransferTestPatience(20);

class FakeTransferRunner : public ITransferRunner {
public:
    struct Call {
        std::string url;
        std::string folder;
        std::string localPath;
        std::string guid;
        bool upload = false;
    };
    struct Plan {
        bool setsFigures = false;
        uint32_t done = 0;
        uint32_t total = 0;
        int32_t status = 0;
    };
    // The ending of every run of one URL: 0 or an error code; for a download a path other
    // than the local one when `writtenPath` is set.
    struct Outcome {
        int code = 0;
        std::string writtenPath;
    };

    // Figures a client of `url` writes as soon as it runs.
    void SetPlan(const std::string& url, Plan plan) {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_plans[url] = plan;
    }

    void Release(const std::string& url, int code, std::string writtenPath = std::string()) {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_outcomes[url] = Outcome{code, std::move(writtenPath)};
        m_changed.notify_all();
    }

    // True once `count` runs of `url` have begun.
    bool WaitStarted(const std::string& url, int count = 1) {
        std::unique_lock<std::mutex> hold(m_mutex);
        return m_changed.wait_for(hold, kTransferTestPatience,
                                  [&] { return StartsLocked(url) >= count; });
    }

    int Starts(const std::string& url) {
        std::lock_guard<std::mutex> hold(m_mutex);
        return StartsLocked(url);
    }

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_calls;
    }

    std::vector<std::pair<std::string, std::string>> Packages() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_packages;
    }

    // Runs of `url` go on after an abort, as a client blocked in a call that cannot be
    // interrupted does, until released.
    void IgnoreAborts(const std::string& url) {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_deaf[url] = true;
    }

    int Aborts() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_aborts;
    }

    bool packageSucceeds = true;

    // While held, a worker asking for a download client waits.
    void HoldClientCreation(bool hold) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdCreation = hold;
        m_changed.notify_all();
    }
    bool WaitCreationAsked() {
        std::unique_lock<std::mutex> hold(m_mutex);
        return m_changed.wait_for(hold, kTransferTestPatience, [&] { return m_creationAsked; });
    }

    std::unique_ptr<ITransferClient> CreateDownloadClient() override {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_creationAsked = true;
        m_changed.notify_all();
        m_changed.wait(hold, [&] { return !m_holdCreation; });
        return std::make_unique<Client>(*this);
    }
    std::unique_ptr<ITransferClient> CreateUploadClient() override {
        return std::make_unique<Client>(*this);
    }
    // While held, a packing waits (as a long packing would) until released.
    void HoldPacking(bool hold) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdPacking = hold;
        m_changed.notify_all();
    }
    bool WaitPackingAsked() {
        std::unique_lock<std::mutex> hold(m_mutex);
        return m_changed.wait_for(hold, kTransferTestPatience, [&] { return m_packingAsked; });
    }
    // True when a packing found its stop request set as it ended.
    bool PackingSawStop() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_packingSawStop;
    }

    bool BuildUploadPackage(const std::string& folder, const std::string& cacheFolder,
                            const std::atomic<bool>& stop, std::string& packagePath) override {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_packages.emplace_back(folder, cacheFolder);
        packagePath = cacheFolder + "\\UploadTemp\\package.PLENTHRA_UNZIP";
        m_packingAsked = true;
        m_changed.notify_all();
        m_changed.wait(hold, [&] { return !m_holdPacking; });
        m_packingSawStop = stop.load();
        return packageSucceeds && !m_packingSawStop;
    }
    void RemoveUploadPackage(const std::string& packagePath) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_removedPackages.push_back(packagePath);
    }
    std::vector<std::string> RemovedPackages() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_removedPackages;
    }

private:
    class Client : public ITransferClient {
    public:
        explicit Client(FakeTransferRunner& runner) : m_runner(runner) {}

        int Download(const std::string& url, const std::string& folder,
                     const std::string& localPath, TransferProgress& progress,
                     std::string& writtenPath) override {
            Outcome outcome;
            if (!m_runner.Run({url, folder, localPath, std::string(), false}, progress, m_aborted,
                              outcome)) {
                return 1006;
            }
            writtenPath = outcome.writtenPath.empty() ? localPath : outcome.writtenPath;
            return outcome.code;
        }

        bool Upload(const std::string& url, const std::string& localPath, const std::string& guid,
                    TransferProgress& progress, int& errorCode) override {
            Outcome outcome;
            if (!m_runner.Run({url, std::string(), localPath, guid, true}, progress, m_aborted,
                              outcome)) {
                errorCode = 0;  // what a cancelled post reports
                return false;
            }
            errorCode = outcome.code;
            return outcome.code == 0;
        }

        void Abort() override {
            std::lock_guard<std::mutex> hold(m_runner.m_mutex);
            m_aborted = true;
            ++m_runner.m_aborts;
            m_runner.m_changed.notify_all();
        }

    private:
        FakeTransferRunner& m_runner;
        bool m_aborted = false;  // guarded by the runner's mutex
    };

    // False when the run was aborted before its URL was released.
    bool Run(Call call, TransferProgress& progress, const bool& aborted, Outcome& outcome) {
        std::unique_lock<std::mutex> hold(m_mutex);
        const std::string url = call.url;
        auto plan = m_plans.find(url);
        if (plan != m_plans.end() && plan->second.setsFigures) {
            StoreAmounts(progress, plan->second.done, plan->second.total);
            StoreStatus(progress, plan->second.status);
        }
        m_calls.push_back(std::move(call));
        m_changed.notify_all();
        m_changed.wait(hold, [&] {
            return (aborted && m_deaf.count(url) == 0) || m_outcomes.count(url) != 0;
        });
        if (m_outcomes.count(url) != 0) {
            outcome = m_outcomes[url];
            return true;
        }
        return false;
    }

    int StartsLocked(const std::string& url) const {
        int count = 0;
        for (const Call& call : m_calls) {
            count += call.url == url ? 1 : 0;
        }
        return count;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Plan> m_plans;
    std::map<std::string, Outcome> m_outcomes;
    std::map<std::string, bool> m_deaf;
    std::vector<Call> m_calls;
    std::vector<std::pair<std::string, std::string>> m_packages;
    std::vector<std::string> m_removedPackages;
    int m_aborts = 0;
    bool m_holdCreation = false;
    bool m_creationAsked = false;
    bool m_holdPacking = false;
    bool m_packingAsked = false;
    bool m_packingSawStop = false;
};

class FakeTransferHost : public ITransferHost {
public:
    bool CreateFolderTree(const std::string& path) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        createdFolders.push_back(path);
        return foldersCanBeMade;
    }
    bool CopyFileTo(const std::string& source, const std::string& destination) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        copies.emplace_back(source, destination);
        return true;
    }
    void OpenDownloadedFile(const std::string& path, int hostId) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        opened.emplace_back(path, hostId);
    }

    template <typename T>
    T Get(const T& field) {
        std::lock_guard<std::mutex> hold(m_mutex);
        return field;
    }

    bool foldersCanBeMade = true;
    std::vector<std::string> createdFolders;
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<std::pair<std::string, int>> opened;

private:
    std::mutex m_mutex;
};
