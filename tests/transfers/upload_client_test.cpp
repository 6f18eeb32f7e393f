// The store's upload against the web side stand-in: what arrives (parts in name order with
// their exact bytes, the headers, a Content-Length that matches the body), empty and
// missing files, a bad port, a stop between chunks, the fixed boundary, and the misuse the
// client refuses. The stand-in's /_log tells what it received.
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/files/file_operations.h"
#include "store/transfers/http_client.h"
#include "tests/loopback_listener.h"
#include "store/transfers/upload_runner.h"

namespace {

using Kasmo::CHttpClientA;
using Kasmo::httpclientexceptionA;

// --- a small JSON reader for the stand-in's log lines ---

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;  // in the order written

    const Json* get(const std::string& key) const {
        for (const auto& member : members)
            if (member.first == key)
                return &member.second;
        return nullptr;
    }
    std::string str(const std::string& key) const {
        const Json* value = get(key);
        return value != nullptr && value->kind == String ? value->text : "<none>";
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : m_text(text) {}
    Json read() {
        skip();
        Json value;
        const char c = peek();
        if (c == '{') {
            value.kind = Json::Object;
            ++m_pos;
            while (skip(), peek() != '}' && peek() != '\0') {
                std::string key = readString();
                skip();
                ++m_pos;  // ':'
                value.members.emplace_back(key, read());
                skip();
                if (peek() == ',')
                    ++m_pos;
            }
            ++m_pos;
        } else if (c == '[') {
            value.kind = Json::Array;
            ++m_pos;
            while (skip(), peek() != ']' && peek() != '\0') {
                value.items.push_back(read());
                skip();
                if (peek() == ',')
                    ++m_pos;
            }
            ++m_pos;
        } else if (c == '"') {
            value.kind = Json::String;
            value.text = readString();
        } else if (c == 'n' || c == 't' || c == 'f') {
            value.kind = c == 'n' ? Json::Null : Json::Bool;
            value.number = c == 't';
            while (std::isalpha(static_cast<unsigned char>(peek())))
                ++m_pos;
        } else {
            value.kind = Json::Number;
            const std::size_t start = m_pos;
            while (std::strchr("+-0123456789.eE", peek()) != nullptr && peek() != '\0')
                ++m_pos;
            value.number = std::atof(m_text.substr(start, m_pos - start).c_str());
        }
        return value;
    }

private:
    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
    void skip() {
        while (peek() == ' ' || peek() == '\n' || peek() == '\r' || peek() == '\t')
            ++m_pos;
    }
    // Non-ASCII escapes become single bytes: the stand-in's texts are Latin-1.
    std::string readString() {
        std::string out;
        ++m_pos;
        while (peek() != '"' && peek() != '\0') {
            char c = m_text[m_pos++];
            if (c == '\\') {
                c = m_text[m_pos++];
                if (c == 'u') {
                    c = static_cast<char>(
                        std::strtol(m_text.substr(m_pos, 4).c_str(), nullptr, 16));
                    m_pos += 4;
                } else if (c == 'n') {
                    c = '\n';
                } else if (c == 'r') {
                    c = '\r';
                } else if (c == 't') {
                    c = '\t';
                }
            }
            out += c;
        }
        ++m_pos;
        return out;
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
};

// --- the stand-in ---

std::string Port() {
    const char* port = std::getenv("PX_WEBSIDE_PORT");
    return port != nullptr ? port : "0";
}

std::string UploadUrl() {
    return "http://127.0.0.1:" + Port() + "/Upload/uploadtest.asp";
}

// A plain request to the stand-in's bookkeeping routes; returns the body.
std::string Ask(const char* verb, const char* path) {
    std::string body;
    const HINTERNET net =
        InternetOpenA("upload test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const HINTERNET conn =
        InternetConnectA(net, "127.0.0.1", static_cast<INTERNET_PORT>(std::atoi(Port().c_str())),
                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    const HINTERNET req = HttpOpenRequestA(conn, verb, path, nullptr, nullptr, nullptr,
                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (req != nullptr && HttpSendRequestA(req, nullptr, 0, nullptr, 0)) {
        char buffer[8192];
        DWORD got = 0;
        while (InternetReadFile(req, buffer, sizeof buffer, &got) && got > 0)
            body.append(buffer, got);
    }
    if (req != nullptr)
        InternetCloseHandle(req);
    if (conn != nullptr)
        InternetCloseHandle(conn);
    if (net != nullptr)
        InternetCloseHandle(net);
    return body;
}

std::vector<Json> Log() {
    std::vector<Json> entries;
    const std::string text = Ask("GET", "/_log");
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            entries.push_back(JsonReader(text.substr(start, end - start)).read());
        start = end + 1;
    }
    return entries;
}

std::string Sha256(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()), 0)) {
        BYTE digest[32];
        DWORD size = sizeof digest;
        if (CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
            static const char digits[] = "0123456789abcdef";
            for (DWORD i = 0; i < size; ++i) {
                hex += digits[digest[i] >> 4];
                hex += digits[digest[i] & 15];
            }
        }
    }
    if (hash != 0)
        CryptDestroyHash(hash);
    if (provider != 0)
        CryptReleaseContext(provider, 0);
    return hex;
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof cwd, cwd);
        folder = std::string(cwd) + "\\upload-work";
        DeleteFolderTree(folder.c_str());
        ASSERT_TRUE(CreateFolderTree(folder.c_str()));
        Ask("POST", "/_reset");
    }
    void TearDown() override { DeleteFolderTree(folder.c_str()); }

    std::string MakeFile(const char* name, const std::string& bytes) {
        const std::string path = folder + "\\" + name;
        const HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        return path;
    }

    // The one upload the stand-in logged since the reset, checked for a complete body.
    Json OnlyUpload() {
        const std::vector<Json> log = Log();
        EXPECT_EQ(log.size(), 1u);
        if (log.empty())
            return Json();
        const Json& entry = log.back();
        EXPECT_EQ(entry.str("method"), "POST");
        EXPECT_EQ(entry.str("path"), "/Upload/uploadtest.asp");
        EXPECT_EQ(entry.get("error"), nullptr) << entry.str("error");
        const Json* headers = entry.get("headers");
        const Json* length = entry.get("body_length");
        EXPECT_TRUE(headers != nullptr && length != nullptr);
        if (headers != nullptr && length != nullptr) {
            EXPECT_EQ(headers->str("Content-Length"),
                      std::to_string(static_cast<long>(length->number)));
        }
        return entry;
    }

    std::string folder;
};

struct Progress {
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    UploadProgress callback() {
        return [this](uint32_t posted, uint32_t total) { calls.emplace_back(posted, total); };
    }
};

const char kGuid[] = "{0C9A1E2B-55D0-4E6F-9A3B-7D41C2E5F680}";
const std::string kContent =
    "Vellamar\xA1\xA1"
    "files";

TEST_F(UploadTest, StoreFieldsArriveInNameOrderWithExactBytes) {
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += static_cast<char>((i * 7) & 0xFF);
    const std::string path = MakeFile("model.bin", bytes);

    std::atomic<bool> stop{false};
    Progress progress;
    EXPECT_EQ(RunUpload({UploadUrl(), path, kGuid}, stop, progress.callback()), 0);

    const Json entry = OnlyUpload();
    const Json* headers = entry.get("headers");
    ASSERT_NE(headers, nullptr);
    EXPECT_EQ(headers->str("Kasmo-Magic"), "My Magic Header");
    EXPECT_EQ(headers->str("User-Magic"), "User's Magic Header");
    EXPECT_EQ(headers->str("Cache-Control"), "no-cache");
    EXPECT_EQ(headers->str("User-Agent"), "My User Agent v1.0");
    const std::string type = headers->str("Content-Type");
    EXPECT_EQ(type.rfind("multipart/form-data; boundary=----VARDO-", 0), 0u) << type;
    EXPECT_EQ(type.size(), std::string("multipart/form-data; boundary=").size() + 43) << type;
    std::vector<std::string> headerNames;
    for (const auto& member : headers->members)
        headerNames.push_back(member.first);
    const auto kasmo = std::find(headerNames.begin(), headerNames.end(), "Kasmo-Magic");
    const auto user = std::find(headerNames.begin(), headerNames.end(), "User-Magic");
    EXPECT_LT(kasmo, user) << "headers not added in name order";

    struct Expected {
        const char* name;
        std::string bytes;
    } expected[] = {{"content", kContent},
                    {"guid", kGuid},
                    {"nohtml", "1"},
                    {"stgFiletoUpload1", bytes},
                    {"title", "Vellamar File System"}};
    const Json* parts = entry.get("parts");
    ASSERT_NE(parts, nullptr);
    ASSERT_EQ(parts->items.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const Json& part = parts->items[i];
        EXPECT_EQ(part.str("name"), expected[i].name);
        EXPECT_EQ(static_cast<std::size_t>(part.get("size")->number), expected[i].bytes.size())
            << expected[i].name;
        EXPECT_EQ(part.str("sha256"), Sha256(expected[i].bytes)) << expected[i].name;
    }
    EXPECT_EQ(parts->items[3].str("filename"), path);
    EXPECT_EQ(parts->items[3].str("content_type"), "application/octet-stream");
    EXPECT_EQ(parts->items[0].get("filename"), nullptr);

    // Figures count field values and file bytes only, and never go back.
    const uint32_t total =
        static_cast<uint32_t>(kContent.size() + sizeof kGuid - 1 + 1 + bytes.size() + 20);
    ASSERT_GE(progress.calls.size(), 5000u / 1024);
    EXPECT_EQ(progress.calls.front(), std::make_pair(0u, total));
    EXPECT_EQ(progress.calls.back(), std::make_pair(total, total));
    for (std::size_t i = 1; i < progress.calls.size(); ++i) {
        EXPECT_LE(progress.calls[i].first - progress.calls[i - 1].first, 1024u);
        EXPECT_GE(progress.calls[i].first, progress.calls[i - 1].first);
    }
}

TEST_F(UploadTest, EmptyAndMissingFilesGoOutAsEmptyParts) {
    const std::string paths[] = {MakeFile("empty.max", ""), folder + "\\missing.max"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        Ask("POST", "/_reset");
        std::atomic<bool> stop{false};
        EXPECT_EQ(RunUpload({UploadUrl(), path, kGuid}, stop, nullptr), 0);
        const Json entry = OnlyUpload();
        const Json* parts = entry.get("parts");
        ASSERT_TRUE(parts != nullptr && parts->items.size() == 5);
        const Json& file = parts->items[3];
        EXPECT_EQ(file.str("name"), "stgFiletoUpload1");
        EXPECT_EQ(file.str("filename"), path);
        EXPECT_EQ(file.get("size")->number, 0);
        EXPECT_EQ(file.str("content_type"), "application/octet-stream");
    }
}

TEST_F(UploadTest, FailuresBeforeSendingGiveTheirStatus) {
    const std::string path = MakeFile("a.txt", "abc");
    struct Row {
        std::string url;
        int status;
    } rows[] = {
        {"http://127.0.0.1:70000/Upload/uploadtest.asp", 2107},
        {"http://:" + Port() + "/Upload/uploadtest.asp", 2103},
    };
    for (const Row& row : rows) {
        std::atomic<bool> stop{false};
        EXPECT_EQ(RunUpload({row.url, path, kGuid}, stop, nullptr), row.status) << row.url;
    }
    EXPECT_TRUE(Log().empty()) << "something was sent";
}

TEST_F(UploadTest, StopBetweenChunksEndsWith2000) {
    const std::string path = MakeFile("big.bin", std::string(200000, 'b'));
    std::atomic<bool> stop{false};
    int calls = 0;
    // Wine's WinInet pools the connection of a post closed halfway as if it were idle, and
    // the next request on it would be read as the rest of this body. Another spelling of
    // the address keeps the stopped post's connection out of the other tests' pool entry.
    const std::string url = "http://127.1:" + Port() + "/Upload/uploadtest.asp";
    const int status = RunUpload({url, path, kGuid}, stop, [&](uint32_t, uint32_t) {
        if (++calls == 10)
            stop = true;
    });
    EXPECT_EQ(status, 2000);
    EXPECT_EQ(calls, 10);
    // The file is closed with the post: it can be deleted at once.
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// A server that takes connections and the request's first bytes into its backlog and then
// neither reads on nor answers.
class SilentServer {
public:
    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(Port()) + "/Upload/uploadtest.asp";
    }
    int Port() const { return m_listener.Port(); }

private:
    LoopbackListener m_listener;
};

TEST_F(UploadTest, InterruptEndsAPostBlockedOnAServerThatNeitherReadsNorAnswers) {
    SilentServer server;
    ASSERT_NE(server.Port(), 0);
    // Big enough that the sends block once the connection's buffers are full.
    const std::string path = MakeFile("stalled.bin", std::string(48 << 20, 's'));
    std::atomic<bool> stop{false};
    UploadInterrupter interrupter;
    std::atomic<int> status{-1};
    std::thread post([&] {
        status = RunUpload({server.Url(), path, kGuid}, stop, nullptr, &interrupter);
    });
    Sleep(1000);
    const DWORD stopped = GetTickCount();
    stop = true;
    interrupter.Interrupt();
    // The interrupt ends it at once on Windows; Wine's WinInet does not end a blocked send
    // when its handle is closed, so there the client's own send limit (10 s) ends it.
    while (status == -1 && GetTickCount() - stopped < 40000)
        Sleep(50);
    EXPECT_EQ(status, 2000) << "the post was still blocked " << GetTickCount() - stopped
                            << " ms after the stop";
    post.join();
    EXPECT_TRUE(DeleteFileA(path.c_str()));

    // Interrupted before it began: nothing is sent at all.
    UploadInterrupter early;
    early.Interrupt();
    std::atomic<bool> never{false};
    EXPECT_NE(RunUpload({UploadUrl(), MakeFile("early.bin", "e"), kGuid}, never, nullptr, &early),
              0);
    EXPECT_TRUE(Log().empty()) << "something was sent";
}

HRESULT WINAPI FailingGuid(GUID*) {
    return E_FAIL;
}

TEST_F(UploadTest, FixedBoundaryServesHeaderAndBodyWhenNoGuidIsMade) {
    CHttpClientA fixed(&FailingGuid);
    EXPECT_EQ(fixed.Boundary(), Kasmo::kFallbackBoundary);
    EXPECT_EQ(fixed.ContentType(),
              "multipart/form-data; boundary=----KASMO-FB3B405B7EAE495aB0C0295C54D4E096-");
    CHttpClientA a, b;
    EXPECT_NE(a.Boundary(), b.Boundary());
    EXPECT_EQ(a.Boundary().size(), 43u);
    EXPECT_EQ(a.Boundary().rfind("----VARDO-", 0), 0u);

    fixed.AddParam("note", "");
    fixed.BeginUpload(UploadUrl().c_str());
    while (!fixed.Proceed(1024)) {
    }
    EXPECT_FALSE(fixed.IsPostActive());
    const Json entry = OnlyUpload();
    EXPECT_EQ(entry.get("headers")->str("Content-Type"), fixed.ContentType());
    EXPECT_EQ(entry.get("headers")->str("User-Agent"), "Kasmo HTTP Client Class");
    const Json* parts = entry.get("parts");
    ASSERT_TRUE(parts != nullptr && parts->items.size() == 1);
    EXPECT_EQ(parts->items[0].str("name"), "note");
    EXPECT_EQ(parts->items[0].get("size")->number, 0);
}

TEST_F(UploadTest, MisuseThrowsCodeZeroAndFailuresEndThePost) {
    CHttpClientA client;
    const auto codeOf = [](auto&& call, std::string* message = nullptr) {
        try {
            call();
        } catch (const httpclientexceptionA& e) {
            if (message != nullptr)
                *message = e.what();
            return e.ErrorCode();
        }
        return -1;
    };
    std::string message;
    EXPECT_EQ(codeOf([&] { client.PostedByte(); }, &message), 0);
    EXPECT_EQ(message, "CHttpPostStatT::PostedByte: The post context is not active.");
    EXPECT_EQ(codeOf([&] { client.AddHeader("", "x"); }, &message), 0);
    EXPECT_EQ(message, "CHttpClientT::AddHeader: szName can not be NULL.");
    EXPECT_EQ(codeOf([&] { client.AddHeader("X", nullptr); }), 0);
    EXPECT_EQ(codeOf([&] { client.Proceed(1024); }), 104);

    client.AddParam("a", "b");
    // Cancelled below: a spelling of its own keeps it out of the other tests' pool entry.
    client.BeginUpload(("http://127.0.1:" + Port() + "/Upload/uploadtest.asp").c_str());
    EXPECT_EQ(codeOf([&] { client.AddParam("c", "d"); }, &message), 0);
    EXPECT_EQ(message,
              "CHttpClientT::AddParam: It is not allowed to call this method if the POST "
              "context is active.");
    EXPECT_EQ(codeOf([&] { client.ClearParam(); }), 0);
    client.Cancel();
    EXPECT_FALSE(client.IsPostActive());
    EXPECT_EQ(codeOf([&] { client.TotalByte(); }), 0);

    EXPECT_EQ(codeOf([&] { client.BeginUpload("http://127.0.0.1:70000/x"); }), 107);
    EXPECT_FALSE(client.IsPostActive());
    client.ClearParam();
}

}  // namespace
