// Titles, payload filling and hostile-payload reading, and the identity and build
// scanners of the host link.
#include "hostlink/host_link_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(HostLinkTitles, AreTheRendezvousStrings) {
    EXPECT_EQ(StoreWindowTitle(), "VellamarStoreHidWinSTORE_GUID038772DC1639433887360D5CC243BC00");
    EXPECT_EQ(HostWindowTitle(1),
              "VellamarHostHidWinHostID1PLUGIN_GUID4A5A923D4B8D446187F245CD3B1E0818");
    EXPECT_EQ(HostWindowTitle(kHostId3dsMax),
              "VellamarHostHidWinHostID14PLUGIN_GUID4A5A923D4B8D446187F245CD3B1E0818");
}

TEST(HostLinkPayload, KeepsAtMost520BytesAndAZero) {
    struct Case {
        std::size_t length;
        std::size_t kept;
    };
    const Case cases[] = {{0, 0}, {519, 519}, {520, 520}, {521, 520}, {1000, 520}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text;
        for (std::size_t i = 0; i < c.length; ++i) {
            text.push_back(static_cast<char>('a' + i % 26));
        }
        LinkPayload payload;
        std::memset(payload.bytes, 'Z', sizeof(payload.bytes));  // stale bytes must go
        EXPECT_EQ(FillPayload(text.c_str(), &payload), c.kept);
        EXPECT_EQ(std::string(payload.bytes, c.kept), text.substr(0, c.kept));
        for (std::size_t i = c.kept; i < kLinkPayloadSize; ++i) {
            ASSERT_EQ(payload.bytes[i], '\0') << "byte " << i;
        }
        // What was filled reads back as the kept text.
        EXPECT_EQ(ReadPayload(payload.bytes, kLinkPayloadSize), text.substr(0, c.kept));
    }
}

TEST(HostLinkPayload, NullTextFillsAnEmptyPayload) {
    LinkPayload payload;
    std::memset(payload.bytes, 'Z', sizeof(payload.bytes));
    EXPECT_EQ(FillPayload(nullptr, &payload), 0u);
    EXPECT_EQ(payload.bytes[0], '\0');
}

TEST(HostLinkPayload, ReadsHostilePayloadsWithinWhatWasSent) {
    // Each buffer is exactly `size` bytes on the heap, so ASan catches any read past it.
    struct Case {
        const char* name;
        std::size_t size;
        char fill;
        bool nullData;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing sent", 0, 'a', false, ""},
        {"five bytes, no zero", 5, 'b', false, "bbbbb"},
        {"full size, no zero", 521, 'c', false, std::string(520, 'c')},
        {"oversized", 2000, 'd', false, std::string(520, 'd')},
        {"null data with a size", 521, 'e', true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // With nothing sent, the one byte there is must still not be read.
        std::vector<char> sent(c.size == 0 ? 1 : c.size, c.fill);
        const void* data = c.nullData ? nullptr : sent.data();
        EXPECT_EQ(ReadPayload(data, c.size), c.expected);
    }
}

TEST(HostLinkPayload, StopsAtTheFirstZero) {
    const char sent[] = {'a', 'b', '\0', 'c', 'd'};
    EXPECT_EQ(ReadPayload(sent, sizeof(sent)), "ab");
}

TEST(HostLinkIdentity, FormatsWhatTheScannerReads) {
    EXPECT_EQ(FormatHostIdentity(14, 4242), "APPHOSTID 14 APPPID 4242");
    int id = 0;
    int pid = 0;
    ASSERT_TRUE(ScanHostIdentity(FormatHostIdentity(14, 4242).c_str(), &id, &pid));
    EXPECT_EQ(id, 14);
    EXPECT_EQ(pid, 4242);
}

TEST(HostLinkIdentity, ScansLikeTheFormatAndRejectsTheRest) {
    const std::string longWord(5000, 'A');
    struct Case {
        std::string text;
        bool matches;
        int id;
        int pid;
    };
    const Case cases[] = {
        {"APPHOSTID 3 APPPID 777", true, 3, 777},
        {"  APPHOSTID\t-2\nAPPPID +9 trailing words", true, -2, 9},
        {"APPHOSTID 3abc APPPID 7", false, 0, 0},  // "abc" is read as the third word
        {"APPHOSTID 3 APPPID", false, 0, 0},
        {"APPHOSTID 3 APPPID x", false, 0, 0},
        {"apphostid 3 APPPID 7", false, 0, 0},
        {"APPHOSTIDX 3 APPPID 7", false, 0, 0},
        {"APPHOSTID 3 PID 7", false, 0, 0},
        {"APPHOSTID 99999999999 APPPID 7", false, 0, 0},
        {"HideWindowsAPPHOSTID 3 APPPID 7", false, 0, 0},
        {"%s%n %d %s %n", false, 0, 0},
        {"", false, 0, 0},
        {longWord + " 3 APPPID 7", false, 0, 0},
        {"APPHOSTID 3 " + longWord + " 7", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        int id = -100;
        int pid = -200;
        EXPECT_EQ(ScanHostIdentity(c.text.c_str(), &id, &pid), c.matches);
        EXPECT_EQ(id, c.matches ? c.id : -100);
        EXPECT_EQ(pid, c.matches ? c.pid : -200);
    }
}

TEST(HostLinkBuild, FormatsTheShippedBuild) {
    EXPECT_EQ(FormatPluginBuild(PluginBuild{1, 0, 72}),
              "PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR 72");
}

TEST(HostLinkBuild, ScansOnlyTheThreeExactWords) {
    const std::string longWord(3000, 'P');
    struct Case {
        std::string text;
        bool matches;
        PluginBuild build;
    };
    const Case cases[] = {
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR 72",
         true,
         {1, 0, 72}},
        {"PX_PLUGIN_BUILD_VER 2 PX_PLUGIN_BUILD_MAJOR 3 PX_PLUGIN_BUILD_MINOR 4 extra",
         true,
         {2, 3, 4}},
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MINOR 0 PX_PLUGIN_BUILD_MAJOR 72", false, {}},
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR", false, {}},
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR PX_PLUGIN_BUILD_MINOR 72", false, {}},
        {"PX_PLUGIN_BUILD_VER %d PX_PLUGIN_BUILD_MAJOR %d PX_PLUGIN_BUILD_MINOR %d", false, {}},
        {"%s%n%s%n%s%n%s%n", false, {}},
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 %s%n 72", false, {}},
        {longWord + " 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR 72", false, {}},
        {"PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 " + longWord + " 72", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        PluginBuild build{-1, -2, -3};
        EXPECT_EQ(ScanPluginBuild(c.text.c_str(), &build), c.matches);
        const PluginBuild expected = c.matches ? c.build : PluginBuild{-1, -2, -3};
        EXPECT_EQ(build.ver, expected.ver);
        EXPECT_EQ(build.major, expected.major);
        EXPECT_EQ(build.minor, expected.minor);
    }
}

TEST(HostLinkScanners, TakeANullTextAsNoMatch) {
    int id = 5;
    int pid = 6;
    PluginBuild build{7, 8, 9};
    EXPECT_FALSE(ScanHostIdentity(nullptr, &id, &pid));
    EXPECT_FALSE(ScanPluginBuild(nullptr, &build));
    EXPECT_EQ(id, 5);
    EXPECT_EQ(build.minor, 9);
}

}  // namespace
