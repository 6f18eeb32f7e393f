// The parts of the multipart upload client that need no Windows call: its exceptions, the
// narrow and wide tool classes, the case-insensitive ordered name/value map, URL analysis,
// the boundary text and the exact lengths and heads of the form parts. Built and tested
// on every platform; http_client.h puts them on WinInet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>

namespace Kasmo {

// Holds the message; the base of every exception of the client family.
class errmsg_exceptionA : public std::exception {
public:
    explicit errmsg_exceptionA(std::string message) : m_strMessage(std::move(message)) {}
    const char* what() const noexcept override { return m_strMessage.c_str(); }

private:
    std::string m_strMessage;
};

// An error code (see HttpErrorMessage), the system error code of the failed call (0 when
// none was involved) and the message.
class httpclientexceptionA : public errmsg_exceptionA {
public:
    httpclientexceptionA(int nErrorCode, unsigned long dwLastError, std::string message)
        : errmsg_exceptionA(std::move(message)),
          m_nErrorCode(nErrorCode),
          m_dwLastError(dwLastError) {}
    int ErrorCode() const { return m_nErrorCode; }
    unsigned long LastError() const { return m_dwLastError; }

private:
    int m_nErrorCode;
    unsigned long m_dwLastError;
};

// Error codes: 0 misuse of a call, 1xx the client's own conditions, 4xx failed WinInet
// calls, 6xx failed file calls.
enum HttpClientError {
    kHttpErrMisuse = 0,
    kHttpErrOutOfMemory = 102,
    kHttpErrInvalidUrl = 103,
    kHttpErrNotStarted = 104,
    kHttpErrUnexpectedEof = 105,
    kHttpErrInvalidPort = 107,
    kHttpErrOverflow = 112,
    kHttpErrInternetOpen = 402,
    kHttpErrInternetConnect = 403,
    kHttpErrOpenRequest = 404,
    kHttpErrAddHeaders = 405,
    kHttpErrSendRequest = 407,
    kHttpErrWriteFile = 408,
    kHttpErrEndRequest = 409,
    kHttpErrReadFile = 602,
    kHttpErrSetFilePointer = 604,
    kHttpErrGetFileSize = 605,
};

// The fixed message of a code ("" for 0 and unknown codes). 605's message holds one "%s".
const char* HttpErrorMessage(int code);

[[noreturn]] void ThrowHttpError(int code, unsigned long lastError = 0);
[[noreturn]] void ThrowMisuse(const char* message);

// Character tools of the narrow and the wide client. Only the narrow client is built; the
// wide tools serve the shared templates (map, URL analysis).
struct CHttpToolA {
    using CharType = char;
    using String = std::string;
    // Compares without regard to ASCII case; <0, 0, >0.
    static int CompareNoCase(const String& a, const String& b);
};
struct CHttpToolW {
    using CharType = wchar_t;
    using String = std::wstring;
    static int CompareNoCase(const String& a, const String& b);
};

// Name -> value, ordered by name without regard to ASCII case. A name added again goes
// after the equal names already there, so iteration is by name, then by insertion.
template <class Tool>
class CHttpClientMapT {
public:
    using String = typename Tool::String;
    struct Item {
        String value;
        bool isFile = false;
    };
    struct NoCaseLess {
        bool operator()(const String& a, const String& b) const {
            return Tool::CompareNoCase(a, b) < 0;
        }
    };
    using Map = std::multimap<String, Item, NoCaseLess>;

    void Add(const String& name, const String& value, bool isFile = false) {
        // multimap::insert places an equal key after the existing ones.
        m_map.insert(typename Map::value_type(name, Item{value, isFile}));
    }
    void Clear() { m_map.clear(); }
    bool Empty() const { return m_map.empty(); }
    std::size_t Count() const { return m_map.size(); }
    typename Map::const_iterator begin() const { return m_map.begin(); }
    typename Map::const_iterator end() const { return m_map.end(); }

private:
    Map m_map;
};

// Host, port and object of an upload URL. Throws 103 for an empty host, 107 for a port
// with more than 5 digits, a non-digit, an empty port or a value outside 1..65535.
template <class Tool>
struct CHttpUrlAnalyzerT {
    using String = typename Tool::String;
    String host;
    unsigned port = 80;
    String object;
    bool secure = false;

    explicit CHttpUrlAnalyzerT(const String& url) {
        const std::size_t sep = url.find(String(1, ':') + String(2, '/'));
        if (sep == String::npos)
            ThrowHttpError(kHttpErrInvalidUrl);
        const String scheme = url.substr(0, sep);
        static const typename Tool::CharType https[] = {'h', 't', 't', 'p', 's', 0};
        secure = Tool::CompareNoCase(scheme, String(https)) == 0;
        port = secure ? 443 : 80;

        const String rest = url.substr(sep + 3);
        std::size_t hostEnd = 0;
        while (hostEnd < rest.size() && rest[hostEnd] != '/' && rest[hostEnd] != '?' &&
               rest[hostEnd] != '#')
            ++hostEnd;
        String hostPart = rest.substr(0, hostEnd);
        const std::size_t colon = hostPart.find(static_cast<typename Tool::CharType>(':'));
        if (colon != String::npos) {
            const String digits = hostPart.substr(colon + 1);
            if (digits.empty() || digits.size() > 5)
                ThrowHttpError(kHttpErrInvalidPort);
            unsigned value = 0;
            for (const auto c : digits) {
                if (c < '0' || c > '9')
                    ThrowHttpError(kHttpErrInvalidPort);
                value = value * 10 + static_cast<unsigned>(c - '0');
            }
            // Port 0 would make WinInet pick the scheme's default port silently.
            if (value == 0 || value > 65535)
                ThrowHttpError(kHttpErrInvalidPort);
            port = value;
            hostPart.resize(colon);
        }
        if (hostPart.empty())
            ThrowHttpError(kHttpErrInvalidUrl);
        host = hostPart;

        object = rest.substr(hostEnd);
        if (object.empty()) {
            object = String(1, '/');
        } else if (object[0] != '/') {
            object.insert(object.begin(), static_cast<typename Tool::CharType>('/'));
        }
    }
};

// The boundary made from a GUID's fields: "----VARDO-" + 32 lower-case hex digits + "-".
std::string FormatBoundary(uint32_t data1, uint16_t data2, uint16_t data3,
                           const unsigned char (&data4)[8]);

// Used when no GUID can be made; as long as a made one.
constexpr const char kFallbackBoundary[] = "----KASMO-FB3B405B7EAE495aB0C0295C54D4E096-";
constexpr std::size_t kBoundaryLength = 43;

// Bytes one part takes in the body, framing and data. The request length is the sum over
// all parts plus ClosingLength.
uint64_t TextPartLength(std::size_t boundaryLength, std::size_t nameLength,
                        std::size_t valueLength);
uint64_t FilePartLength(std::size_t boundaryLength, std::size_t nameLength, std::size_t pathLength,
                        std::size_t mimeLength, uint64_t fileSize);
uint64_t ClosingLength(std::size_t boundaryLength);

// Part heads up to the start of the data; the data is followed by "\r\n".
std::string TextPartHead(const std::string& boundary, const std::string& name);
std::string FilePartHead(const std::string& boundary, const std::string& name,
                         const std::string& path, const std::string& mimeType);
std::string ClosingLine(const std::string& boundary);

}  // namespace Kasmo
