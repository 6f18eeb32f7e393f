// The upload client's rules that need no network: the order form parts and headers go out
// in, URL analysis with its port rules, the boundary text, and part lengths that must match
// the heads written byte for byte (the server checks the announced Content-Length).
#include "store/transfers/http_form.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace Kasmo;

template <class Map>
std::vector<std::string> NamesAndValues(const Map& map) {
    std::vector<std::string> out;
    for (const auto& item : map)
        out.push_back(item.first + "=" + item.second.value);
    return out;
}

TEST(CHttpClientMapTest, OrdersByNameWithoutCaseThenByInsertion) {
    CHttpClientMapT<CHttpToolA> params;
    params.Add("nohtml", "1");
    params.Add("title", "t");
    params.Add("content", "c");
    params.Add("guid", "g");
    params.Add("stgFiletoUpload1", "f", true);
    EXPECT_EQ(NamesAndValues(params), (std::vector<std::string>{"content=c", "guid=g", "nohtml=1",
                                                                "stgFiletoUpload1=f", "title=t"}));

    CHttpClientMapT<CHttpToolA> headers;
    headers.Add("User-Magic", "u");
    headers.Add("b", "1");
    headers.Add("Kasmo-Magic", "k");
    headers.Add("B", "2");
    headers.Add("b", "3");
    // Case is folded to lower case, as _stricmp does: "_" then sorts before every letter.
    headers.Add("a_", "4");
    headers.Add("AB", "5");
    EXPECT_EQ(NamesAndValues(headers),
              (std::vector<std::string>{"a_=4", "AB=5", "b=1", "B=2", "b=3", "Kasmo-Magic=k",
                                        "User-Magic=u"}));
    headers.Clear();
    EXPECT_TRUE(headers.Empty());
}

TEST(CHttpClientMapTest, WideTwinOrdersTheSameWay) {
    CHttpClientMapT<CHttpToolW> map;
    map.Add(L"Zeta", L"1");
    map.Add(L"alpha", L"2");
    map.Add(L"ALPHA", L"3");
    std::vector<std::wstring> values;
    for (const auto& item : map)
        values.push_back(item.second.value);
    EXPECT_EQ(values, (std::vector<std::wstring>{L"2", L"3", L"1"}));
}

TEST(CHttpUrlAnalyzerTest, HostPortAndObject) {
    struct Row {
        const char* url;
        const char* host;
        unsigned port;
        const char* object;
        bool secure;
    } rows[] = {
        {"http://store.example/Upload/uploadtest.asp", "store.example", 80,
         "/Upload/uploadtest.asp", false},
        {"HTTPS://store.example", "store.example", 443, "/", true},
        {"http://127.0.0.1:8080/a?b=c/d", "127.0.0.1", 8080, "/a?b=c/d", false},
        {"http://h:65535", "h", 65535, "/", false},
        {"http://h?x=1", "h", 80, "/?x=1", false},
        {"https://h:00081/x", "h", 81, "/x", true},
    };
    for (const Row& row : rows) {
        const CHttpUrlAnalyzerT<CHttpToolA> url(row.url);
        EXPECT_EQ(url.host, row.host) << row.url;
        EXPECT_EQ(url.port, row.port) << row.url;
        EXPECT_EQ(url.object, row.object) << row.url;
        EXPECT_EQ(url.secure, row.secure) << row.url;
    }
}

TEST(CHttpUrlAnalyzerTest, BadPortsAndHostsThrowTheirCodes) {
    struct Row {
        const char* url;
        int code;
    } rows[] = {
        {"http://h:70000/Upload/uploadtest.asp", 107},
        {"http://h:123456/", 107},
        {"http://h:8a/", 107},
        {"http://h:/", 107},
        {"http://h:0/", 107},
        {"http://:80/x", 103},
        {"http:///x", 103},
        {"store.example/Upload", 103},
    };
    for (const Row& row : rows) {
        try {
            CHttpUrlAnalyzerT<CHttpToolA> url(row.url);
            ADD_FAILURE() << row.url << " was accepted";
        } catch (const httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), row.code) << row.url;
            EXPECT_STREQ(e.what(), HttpErrorMessage(row.code));
        }
    }
}

TEST(FormatBoundaryTest, FieldsInLowerCaseHexAsLongAsTheFixedBoundary) {
    const unsigned char tail[8] = {0xAB, 0x01, 0x23, 0x45, 0x67, 0x89, 0xCD, 0xEF};
    const std::string boundary = FormatBoundary(0x0012ABCDu, 0x0A0Bu, 0xFFFFu, tail);
    EXPECT_EQ(boundary, "----VARDO-0012abcd0a0bffffab0123456789cdef-");
    EXPECT_EQ(boundary.size(), kBoundaryLength);
    EXPECT_EQ(std::string(kFallbackBoundary).size(), kBoundaryLength);
}

TEST(PartLengthTest, FormulasMatchTheBytesOfEveryPart) {
    const std::string b = kFallbackBoundary;
    struct Text {
        std::string name, value;
    } texts[] = {{"content",
                  "Vellamar\xA1\xA1"
                  "files"},
                 {"guid", ""},
                 {"nohtml", "1"}};
    for (const Text& t : texts) {
        const std::string part = TextPartHead(b, t.name) + t.value + "\r\n";
        EXPECT_EQ(TextPartLength(b.size(), t.name.size(), t.value.size()), part.size()) << t.name;
    }
    const std::string head =
        FilePartHead(b, "stgFiletoUpload1", "C:\\Models\\Car.PLENTHRA_UNZIP", "application/x-zip");
    EXPECT_EQ(head, "--" + b +
                        "\r\nContent-Disposition: form-data; name=\"stgFiletoUpload1\"; "
                        "filename=\"C:\\Models\\Car.PLENTHRA_UNZIP\"\r\nContent-Type: "
                        "application/x-zip\r\n\r\n");
    EXPECT_EQ(FilePartLength(b.size(), 16, 28, 17, 0), head.size() + 2);
    EXPECT_EQ(FilePartLength(b.size(), 16, 28, 17, 5000000000ull), head.size() + 2 + 5000000000ull);
    EXPECT_EQ(ClosingLength(b.size()), ClosingLine(b).size());
    EXPECT_EQ(ClosingLine(b), "--" + b + "--\r\n");
}

TEST(HttpErrorMessageTest, TabledMessages) {
    EXPECT_STREQ(HttpErrorMessage(112), "An arithmetic overflow error has been occurred.");
    EXPECT_STREQ(HttpErrorMessage(605), "::GetFileSize failed (\"%s\").");
    EXPECT_STREQ(HttpErrorMessage(408), "::InternetWriteFile failed.");
    try {
        ThrowHttpError(402, 12029);
    } catch (const httpclientexceptionA& e) {
        EXPECT_EQ(e.ErrorCode(), 402);
        EXPECT_EQ(e.LastError(), 12029u);
        EXPECT_STREQ(e.what(), "::InternetOpen failed.");
    }
}

}  // namespace
