// Exceptions, tools, boundary and part framing of the upload client; see http_form.h.
#include "store/transfers/http_form.h"

#include <cstdio>

namespace Kasmo {

namespace {

template <class String>
int CompareNoCaseImpl(const String& a, const String& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned long>(a[i]);
        auto y = static_cast<unsigned long>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Content-Disposition: form-data; name="
constexpr const char kDisposition[] = "Content-Disposition: form-data; name=\"";

}  // namespace

const char* HttpErrorMessage(int code) {
    switch (code) {
        case kHttpErrOutOfMemory:
            return "Out of memory.";
        case kHttpErrInvalidUrl:
            return "The requested URL is not a valid URL.";
        case kHttpErrNotStarted:
            return "The post context is not started yet.";
        case kHttpErrUnexpectedEof:
            return "Couldn't read expected bytes from a file.";
        case kHttpErrInvalidPort:
            return "The port number is not valid.";
        case kHttpErrOverflow:
            return "An arithmetic overflow error has been occurred.";
        case kHttpErrInternetOpen:
            return "::InternetOpen failed.";
        case kHttpErrInternetConnect:
            return "::InternetConnect failed.";
        case kHttpErrOpenRequest:
            return "::HttpOpenRequest failed.";
        case kHttpErrAddHeaders:
            return "::HttpAddRequestHeaders failed.";
        case kHttpErrSendRequest:
            return "::HttpSendRequestEx failed.";
        case kHttpErrWriteFile:
            return "::InternetWriteFile failed.";
        case kHttpErrEndRequest:
            return "::HttpEndRequest failed.";
        case kHttpErrReadFile:
            return "::ReadFile failed.";
        case kHttpErrSetFilePointer:
            return "::SetFilePointer failed.";
        case kHttpErrGetFileSize:
            return "::GetFileSize failed (\"%s\").";
        default:
            return "";
    }
}

void ThrowHttpError(int code, unsigned long lastError) {
    throw httpclientexceptionA(code, lastError, HttpErrorMessage(code));
}

void ThrowMisuse(const char* message) {
    throw httpclientexceptionA(kHttpErrMisuse, 0, message);
}

int CHttpToolA::CompareNoCase(const String& a, const String& b) {
    return CompareNoCaseImpl(a, b);
}

int CHttpToolW::CompareNoCase(const String& a, const String& b) {
    return CompareNoCaseImpl(a, b);
}

std::string FormatBoundary(uint32_t data1, uint16_t data2, uint16_t data3,
                           const unsigned char (&data4)[8]) {
    char text[kBoundaryLength + 1];
    std::snprintf(
        text, sizeof text, "----VARDO-%.08x%.04x%.04x%.02x%.02x%.02x%.02x%.02x%.02x%.02x%.02x-",
        static_cast<unsigned>(data1), static_cast<unsigned>(data2), static_cast<unsigned>(data3),
        data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

uint64_t TextPartLength(std::size_t boundaryLength, std::size_t nameLength,
                        std::size_t valueLength) {
    return uint64_t{boundaryLength} + 4 + 43 + nameLength + valueLength + 2;
}

uint64_t FilePartLength(std::size_t boundaryLength, std::size_t nameLength, std::size_t pathLength,
                        std::size_t mimeLength, uint64_t fileSize) {
    return uint64_t{boundaryLength} + 4 + 54 + nameLength + pathLength + 18 + mimeLength +
           fileSize + 2;
}

uint64_t ClosingLength(std::size_t boundaryLength) {
    return uint64_t{boundaryLength} + 6;
}

std::string TextPartHead(const std::string& boundary, const std::string& name) {
    return "--" + boundary + "\r\n" + kDisposition + name + "\"\r\n\r\n";
}

std::string FilePartHead(const std::string& boundary, const std::string& name,
                         const std::string& path, const std::string& mimeType) {
    return "--" + boundary + "\r\n" + kDisposition + name + "\"; filename=\"" + path +
           "\"\r\nContent-Type: " + mimeType + "\r\n\r\n";
}

std::string ClosingLine(const std::string& boundary) {
    return "--" + boundary + "--\r\n";
}

}  // namespace Kasmo
