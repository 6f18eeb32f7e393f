// A host-name lookup that a stop or a time limit can end: getaddrinfo cannot be
// interrupted, so it runs on a thread of its own and the caller stops waiting for it.
// Windows only (Winsock 2).
#pragma once

#include <winsock2.h>

#include <atomic>
#include <string>

enum class LookupResult { kFound, kNotFound, kStopped, kTimedOut };

// How long a lookup may take before the download gives up on it. A lookup that is given
// up on finishes on its own thread, which then frees what it used.
constexpr int kHostLookupLimitMs = 10000;

// What resolves a name on the lookup thread: true with the first IPv4 address of `host`.
// The system's getaddrinfo unless a test hands in another.
using HostResolver = bool (*)(const std::string& host, in_addr& address);
bool ResolveWithGetaddrinfo(const std::string& host, in_addr& address);

// The first IPv4 address of `host`, a dotted address or a name. Waits at most `limitMs`
// and returns kStopped soon after `stop` is set.
LookupResult LookUpIpv4(const std::string& host, const std::atomic<bool>& stop, int limitMs,
                        in_addr& address, HostResolver resolve = ResolveWithGetaddrinfo);
