// The bounded host-name lookup; see host_lookup_win.h.
#include "store/transfers/host_lookup_win.h"

#include <ws2tcpip.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Shared by the waiting caller and the lookup thread; whichever leaves last frees it.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

constexpr int kStopPollMs = 50;

void Run(const std::shared_ptr<Lookup>& lookup, const std::string& host, HostResolver resolve) {
    in_addr address{};
    const bool ok = resolve(host, address);
    std::lock_guard<std::mutex> hold(lookup->lock);
    lookup->address = address;
    lookup->found = ok;
    lookup->finished = true;
    lookup->done.notify_all();
}

}  // namespace

bool ResolveWithGetaddrinfo(const std::string& host, in_addr& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok)
        address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    if (found != nullptr)
        freeaddrinfo(found);
    return ok;
}

LookupResult LookUpIpv4(const std::string& host, const std::atomic<bool>& stop, int limitMs,
                        in_addr& address, HostResolver resolve) {
    if (inet_pton(AF_INET, host.c_str(), &address) == 1)
        return LookupResult::kFound;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread(Run, lookup, host, resolve).detach();
    } catch (const std::system_error&) {
        return LookupResult::kNotFound;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::unique_lock<std::mutex> hold(lookup->lock);
    while (!lookup->finished) {
        if (stop.load())
            return LookupResult::kStopped;
        if (std::chrono::steady_clock::now() >= deadline)
            return LookupResult::kTimedOut;
        lookup->done.wait_for(hold, std::chrono::milliseconds(kStopPollMs));
    }
    if (!lookup->found)
        return LookupResult::kNotFound;
    address = lookup->address;
    return LookupResult::kFound;
}
