// Texts of the host link that need no window: window titles, the 521-byte payload in
// both directions, and the identity and build texts. Everything here also builds and is
// tested natively; the window code only moves bytes to and from these functions.
#pragma once

#include <cstddef>
#include <string>

#include "hostlink/host_link_codes.h"

struct LinkPayload {
    char bytes[kLinkPayloadSize];
};

struct PluginBuild {
    int ver = 0;
    int major = 0;
    int minor = 0;
};

std::string StoreWindowTitle();
std::string HostWindowTitle(int hostId);

// Copies at most 520 bytes of text and a zero into the payload; the rest is zeroed so
// that no stale bytes cross the process boundary. A null text is empty. Returns the
// number of text bytes kept.
std::size_t FillPayload(const char* text, LinkPayload* out);

// Takes a received payload apart without trusting its sender: reads at most `size`
// bytes and at most 520 of them, stops at the first zero, and gives an empty text for
// a null pointer or a zero size.
std::string ReadPayload(const void* data, std::size_t size);

std::string FormatHostIdentity(int hostId, int hostPid);
std::string FormatPluginBuild(const PluginBuild& build);

// Both scanners read the text the way "%s %d %s %d" (and "%s %d %s %d %s %d") would,
// but with words of any length, the text never used as a format, and numbers that must
// fit an int. On a mismatch they return false and leave the outputs unchanged.
bool ScanHostIdentity(const char* text, int* hostId, int* hostPid);
bool ScanPluginBuild(const char* text, PluginBuild* build);
