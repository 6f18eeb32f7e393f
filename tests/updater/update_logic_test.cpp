// The updater's rules that need no window: the service URL, the split of a download link,
// the file a download is saved as (Content-Disposition names, hostile ones included), the
// descriptor's link and the read loop with its progress texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/updater/download_names.h"
#include "store/updater/download_reads.h"
#include "store/updater/update_descriptor.h"
#include "store/updater/update_urls.h"
#include "text/xml_document.h"

namespace {

TEST(UpdateServiceUrlTest, QueryCarriesHostVersionAndCounter) {
    struct Case {
        const char* host;
        int hostId;
        PluginVersion version;
        int counter;
        const char* url;
    };
    const Case cases[] = {
        {"update.plenthra.example", 14, PluginVersion{}, 1,
         "http://update.plenthra.example/aerin/aerinpluginconfigurationservice.cfm"
         "?intHostID=14&stgVersion=1.0.0&stgUpdateSource=1.0.0&temp=1"},
        {"127.0.0.1:8123", 0, PluginVersion{1, 0, 72}, 12,
         "http://127.0.0.1:8123/aerin/aerinpluginconfigurationservice.cfm"
         "?intHostID=0&stgVersion=1.0.72&stgUpdateSource=1.0.0&temp=12"},
        {"h", -3, PluginVersion{2, -1, 9}, 0,
         "http://h/aerin/aerinpluginconfigurationservice.cfm"
         "?intHostID=-3&stgVersion=2.-1.9&stgUpdateSource=1.0.0&temp=0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildUpdateServiceUrl(c.host, c.hostId, c.version, c.counter), c.url);
    }
}

TEST(DownloadUrlSplitTest, SchemesHostsPortsAndPaths) {
    struct Case {
        const char* url;
        bool fetched;
        const char* server;
        int port;
        bool secure;
        const char* objectPath;
    };
    const Case cases[] = {
        {"http://example.com/files/update.exe", true, "example.com", 80, false,
         "/files/update.exe"},
        {"https://example.com/u/x.exe?a=1&amp;b=2", true, "example.com", 443, true,
         "/u/x.exe?a=1&amp;b=2"},
        {"http://example.com", true, "example.com", 80, false, "/"},
        {"https://example.com", true, "example.com", 443, true, "/"},
        {"http://127.0.0.1:8123/files/a/b.exe", true, "127.0.0.1", 8123, false, "/files/a/b.exe"},
        {"https://127.0.0.1:8443/", true, "127.0.0.1", 8443, true, "/"},
        {"http://[::1]:8080/x", true, "::1", 8080, false, "/x"},
        {"http://[::1]/x", true, "::1", 80, false, "/x"},
        {"http://h:65535/", true, "h", 65535, false, "/"},
        // The server part ends at the first "/" only.
        {"http://h?x=1/y", true, "h?x=1", 80, false, "/y"},
        {"HTTP://example.com/x", false, "", 0, false, ""},
        {"Https://example.com/x", false, "", 0, false, ""},
        {"ftp://example.com/x", false, "", 0, false, ""},
        {"example.com/x", false, "", 0, false, ""},
        {"", false, "", 0, false, ""},
        {" http://example.com/x", false, "", 0, false, ""},
        {"http:///x", false, "", 0, false, ""},
        {"http://:80/x", false, "", 0, false, ""},
        {"http://h:/x", false, "", 0, false, ""},
        {"http://h:0/x", false, "", 0, false, ""},
        {"http://h:65536/x", false, "", 0, false, ""},
        {"http://h:8o/x", false, "", 0, false, ""},
        {"http://h:-1/x", false, "", 0, false, ""},
        {"http://[::1/x", false, "", 0, false, ""},
        {"http://[::1]x/y", false, "", 0, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const std::optional<DownloadTarget> target = SplitDownloadUrl(c.url);
        ASSERT_EQ(target.has_value(), c.fetched);
        if (target) {
            EXPECT_EQ(target->server, c.server);
            EXPECT_EQ(target->port, c.port);
            EXPECT_EQ(target->secure, c.secure);
            EXPECT_EQ(target->objectPath, c.objectPath);
        }
    }
}

TEST(ContentDispositionTest, NameBetweenTheQuotes) {
    struct Case {
        const char* header;
        const char* name;
    };
    const Case cases[] = {
        {"attachment; filename=\"x.exe\"", "x.exe"},
        {"attachment; filename=\"setup 2.exe\"; size=10", "setup 2.exe"},
        {"filename=\"..\\evil.exe\"", "..\\evil.exe"},
        {"attachment; filename=x.exe", ""},    // no quote after "filename="
        {"attachment; filename=\"x.exe", ""},  // never closed
        {"attachment; filename=\"\"", ""},
        {"attachment; FILENAME=\"x.exe\"", ""},  // the marker is case-sensitive
        {"attachment; filename*=UTF-8''x.exe", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ContentDispositionFileName(c.header), c.name) << c.header;
    }
}

TEST(ServerFileNameTest, OnlyPlainNamesInsideTheFolder) {
    struct Case {
        std::string name;
        bool plain;
    };
    const Case cases[] = {
        {"x.exe", true},
        {"update 2.exe", true},
        {"a..b.exe", true},
        {".hidden", true},
        {"con1.exe", true},
        {"COM10.exe", true},
        {"console.exe", true},
        {"\xE4pfel.exe", true},
        {std::string(kMaxServerFileNameBytes, 'a'), true},
        {"", false},
        {std::string(kMaxServerFileNameBytes + 1, 'a'), false},
        {"..\\evil.exe", false},
        {"../evil.exe", false},
        {"C:\\evil.exe", false},
        {"C:evil.exe", false},
        {"\\\\server\\share\\evil.exe", false},
        {"a/b.exe", false},
        {"a\\b.exe", false},
        {"x.exe:stream", false},
        {".", false},
        {"..", false},
        {"...", false},
        {"evil.exe.", false},
        {"evil.exe ", false},
        {"a*b.exe", false},
        {"a?b.exe", false},
        {"a\"b.exe", false},
        {"a<b.exe", false},
        {"a>b.exe", false},
        {"a|b.exe", false},
        {"tab\there.exe", false},
        {std::string("nul\0.exe", 8), false},
        {"a\x7F.exe", false},
        {"CON", false},
        {"con.exe", false},
        {"Nul.txt", false},
        {"AUX .exe", false},
        {"prn.tar.gz", false},
        {"COM1", false},
        {"lpt9.exe", false},
        {"CONOUT$", false},
        // A double-byte character whose second byte is "\" is refused as well.
        {"\x95\\x.exe", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
    }
}

TEST(DownloadFileChoiceTest, DestinationServerNameOrDefault) {
    const std::string transfer = "C:\\Cache";
    const std::string folder = transfer + "\\Updates\\temp";
    struct Case {
        const char* label;
        bool nameFromServer;
        std::string destination;
        bool program;
        const char* disposition;  // nullptr: no header
        std::string path;
        bool refused;
    };
    const Case cases[] = {
        {"own destination", false, transfer + "\\Updates\\PXUpdate.xml", false,
         "attachment; filename=\"x.exe\"", transfer + "\\Updates\\PXUpdate.xml", false},
        {"server names a program", true, folder, true, "attachment; filename=\"x.exe\"",
         folder + "\\x.exe", false},
        {"no header, program", true, folder, true, nullptr, folder + "\\update.exe", false},
        {"no header, other", true, folder, false, nullptr, folder + "\\pxout.file", false},
        {"header without a name", true, folder, true, "attachment", folder + "\\update.exe", false},
        {"parent folder", true, folder, true, "attachment; filename=\"..\\evil.exe\"",
         folder + "\\update.exe", true},
        {"drive", true, folder, true, "attachment; filename=\"C:\\evil.exe\"",
         folder + "\\update.exe", true},
        {"forward slash", true, folder, true, "attachment; filename=\"a/b.exe\"",
         folder + "\\update.exe", true},
        {"device", true, folder, false, "attachment; filename=\"NUL\"", folder + "\\pxout.file",
         true},
        {"never closed", true, folder, true, "attachment; filename=\"x.exe",
         folder + "\\update.exe", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string header = c.disposition != nullptr ? c.disposition : "";
        const DownloadFileChoice choice =
            ChooseDownloadFile(c.nameFromServer, c.destination, c.program, transfer,
                               c.disposition != nullptr ? &header : nullptr);
        EXPECT_EQ(choice.path, c.path);
        EXPECT_EQ(choice.refusedServerName, c.refused);
    }
}

TEST(UpdateDescriptorTest, LinkRequiredFlagAndEncodedText) {
    struct Case {
        const char* xml;
        bool hasLink;
        bool required;
        const char* link;
    };
    const Case cases[] = {
        {"<PXUpdate></PXUpdate>", false, false, ""},
        {"<PXUpdate><Other>x</Other></PXUpdate>", false, false, ""},
        {"<?xml version=\"1.0\"?>\n<Update><AerinPluginUpdateLink required=\"yes\">"
         "http://h/u.exe</AerinPluginUpdateLink></Update>",
         true, true, "http://h/u.exe"},
        {"<u><AerinPluginUpdateLink required=\"Yes\">http://h/u.exe</AerinPluginUpdateLink></u>",
         true, false, "http://h/u.exe"},
        {"<u><AerinPluginUpdateLink required=\"no\">http://h/u.exe</AerinPluginUpdateLink></u>",
         true, false, "http://h/u.exe"},
        {"<u><AerinPluginUpdateLink>http://h/u.exe</AerinPluginUpdateLink></u>", true, false,
         "http://h/u.exe"},
        {"<u><AerinPluginUpdateLink>http://h/u.exe?a=1&amp;b=2</AerinPluginUpdateLink></u>", true,
         false, "http://h/u.exe?a=1&amp;b=2"},
        {"<u><AerinPluginUpdateLink required=\"yes\">http://h/first.exe</AerinPluginUpdateLink>"
         "<AerinPluginUpdateLink>http://h/second.exe</AerinPluginUpdateLink></u>",
         true, true, "http://h/first.exe"},
        // Only a child of the outermost element counts.
        {"<u><inner><AerinPluginUpdateLink>http://h/u.exe</AerinPluginUpdateLink></inner></u>",
         false, false, ""},
        {"<u><aerinpluginupdatelink>http://h/u.exe</aerinpluginupdatelink></u>", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        XmlDocument document;
        ASSERT_EQ(document.loadText(std::string(c.xml)), 1);
        const UpdateDescriptor descriptor = ReadUpdateDescriptor(document.root);
        EXPECT_EQ(descriptor.hasLink, c.hasLink);
        EXPECT_EQ(descriptor.required, c.required);
        EXPECT_EQ(descriptor.link, c.link);
    }
}

// Runs the plan over a list of read results and gives the sizes asked for, one per read
// made; reads past the end of the list return nothing.
std::vector<std::size_t> ReadsMade(const std::vector<std::size_t>& results) {
    BodyReadPlan plan;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0;; ++i) {
        asked.push_back(plan.NextReadBytes());
        if (asked.size() > 1000) {
            break;  // a loop that never ends fails below
        }
        if (!plan.Record(i < results.size() ? results[i] : 0)) {
            break;
        }
    }
    return asked;
}

TEST(BodyReadPlanTest, ChunkSizesAndEmptyReads) {
    // Data then the end: 4096 first, 4024 after, and 17 empty reads at the end.
    std::vector<std::size_t> asked = ReadsMade({4096, 4024, 100});
    ASSERT_EQ(asked.size(), 3u + 17u);
    EXPECT_EQ(asked[0], 4096u);
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_EQ(asked[i], 4024u) << i;
    }
    // An empty body: the first empty read is the 4096-byte one.
    asked = ReadsMade({});
    EXPECT_EQ(asked.size(), 17u);
    EXPECT_EQ(asked[0], 4096u);
    // Data between empty reads does not give them back: 10 empty, data, 6 empty, then the
    // next empty read ends the loop.
    std::vector<std::size_t> results(10, 0);
    results.push_back(50);
    results.insert(results.end(), 6, 0);
    results.push_back(0);
    results.push_back(70);  // never read
    asked = ReadsMade(results);
    EXPECT_EQ(asked.size(), 18u);
}

TEST(ProgressTextTest, PercentSizeLineAndLength) {
    struct PercentCase {
        std::uint64_t bytes;
        std::int64_t total;
        int percent;
    };
    const PercentCase percents[] = {
        {0, 1000, 0},        {4096, 10000, 40}, {9999, 10000, 99}, {10000, 10000, 100},
        {20000, 10000, 100}, {500, 0, -1},      {500, -1, -1},     {UINT64_MAX / 50, INT64_MAX, 4},
    };
    for (const PercentCase& c : percents) {
        EXPECT_EQ(ProgressPercent(c.bytes, c.total), c.percent) << c.bytes << "/" << c.total;
    }
    EXPECT_EQ(SizeLineText(0), "0.00 KB");
    EXPECT_EQ(SizeLineText(4096), "4.00 KB");
    EXPECT_EQ(SizeLineText(1536 + 10), "1.51 KB");
    EXPECT_EQ(SizeLineText(1024 * 1024 * 3), "3072.00 KB");

    EXPECT_EQ(ParseContentLength("12345"), 12345);
    EXPECT_EQ(ParseContentLength("5000000000"), 5000000000LL);
    EXPECT_EQ(ParseContentLength(" 42"), 42);
    EXPECT_EQ(ParseContentLength("0"), 0);
    EXPECT_EQ(ParseContentLength("-5"), 0);
    EXPECT_EQ(ParseContentLength("none"), 0);
    EXPECT_EQ(ParseContentLength(""), 0);
    EXPECT_EQ(ParseContentLength(nullptr), 0);
}

}  // namespace
