// The WinInet side of the upload client; see http_client.h.
#include "store/transfers/http_client.h"

#include <objbase.h>
#include <urlmon.h>

#include <algorithm>
#include <new>

#include "store/transfers/wininet_certificate_check.h"

namespace Kasmo {

namespace {

// File contents are read in pieces of at most this size, and never more than one chunk.
constexpr DWORD kMaxFileRead = 57344;
// Content sniffing looks at this many leading bytes.
constexpr DWORD kSniffBytes = 256;
// Body bytes are handed to WinInet in pieces of up to this size. Each InternetWriteFile is a
// send of its own (a server round trip under Wine), so 1 KiB chunks went out at about
// 10 MB/s; progress and stops still follow the caller's chunks.
constexpr std::size_t kSendBufferBytes = 64 * 1024;
// WinInet's limits for connecting, for each send and for the answer: a server that stops
// reading or never answers ends the post with an error instead of holding it for ever.
constexpr DWORD kHandleTimeoutMs = 10000;
constexpr const char kDefaultAgent[] = "Kasmo HTTP Client Class";
constexpr const char kDefaultMime[] = "application/octet-stream";

[[noreturn]] void ThrowLastError(int code) {
    ThrowHttpError(code, GetLastError());
}

void SetTimeLimits(HINTERNET handle) {
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (const DWORD option : options) {
        DWORD limit = kHandleTimeoutMs;
        InternetSetOptionA(handle, option, &limit, sizeof limit);
    }
}

std::string SniffMimeType(const unsigned char* data, DWORD size) {
    if (size == 0)
        return kDefaultMime;
    LPWSTR found = nullptr;
    if (FindMimeFromData(nullptr, nullptr, const_cast<unsigned char*>(data), size, nullptr, 0,
                         &found, 0) != S_OK ||
        found == nullptr)
        return kDefaultMime;
    char narrow[256];
    const int length =
        WideCharToMultiByte(CP_ACP, 0, found, -1, narrow, sizeof narrow, nullptr, nullptr);
    CoTaskMemFree(found);
    if (length <= 1)
        return kDefaultMime;
    return narrow;
}

}  // namespace

// --- CHttpPostStatT ---

template <class Tool>
void CHttpPostStatT<Tool>::Check(const char* method) const {
    if (!m_bActive) {
        ThrowMisuse((std::string("CHttpPostStatT::") + method + ": The post context is not active.")
                        .c_str());
    }
}

template <class Tool>
DWORD CHttpPostStatT<Tool>::PostedByte() const {
    Check("PostedByte");
    return m_cbPosted;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::TotalByte() const {
    Check("TotalByte");
    return m_cbTotal;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::ActualTotalByte() const {
    Check("ActualTotalByte");
    return m_cbActualTotal;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::PostedCount() const {
    Check("PostedCount");
    return m_nPosted;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::TotalCount() const {
    Check("TotalCount");
    return m_nTotal;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::FileCount() const {
    Check("FileCount");
    return m_nFiles;
}
template <class Tool>
DWORD CHttpPostStatT<Tool>::CurrParamPostedByte() const {
    Check("CurrParamPostedByte");
    return m_cbCurrParam;
}

// --- CHttpResponseT ---

template <class Tool>
CHttpResponseT<Tool>::CHttpResponseT(HINTERNET hInternet, HINTERNET hConnection, HINTERNET hRequest)
    : m_hInternet(hInternet), m_hConnection(hConnection), m_hRequest(hRequest) {}

template <class Tool>
CHttpResponseT<Tool>::~CHttpResponseT() {
    if (m_hRequest != nullptr)
        InternetCloseHandle(m_hRequest);
    if (m_hConnection != nullptr)
        InternetCloseHandle(m_hConnection);
    if (m_hInternet != nullptr)
        InternetCloseHandle(m_hInternet);
}

template <class Tool>
DWORD CHttpResponseT<Tool>::GetStatus() const {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return 0;
    return status;
}

// --- CHttpClientT ---

template <class Tool>
CHttpClientT<Tool>::CHttpClientT(GuidMaker makeGuid) {
    GUID guid{};
    const HRESULT made = makeGuid != nullptr ? makeGuid(&guid) : CoCreateGuid(&guid);
    if (SUCCEEDED(made)) {
        m_strBoundary =
            FormatBoundary(static_cast<uint32_t>(guid.Data1), guid.Data2, guid.Data3, guid.Data4);
    } else {
        m_strBoundary = kFallbackBoundary;
    }
    m_strContentType = "multipart/form-data; boundary=" + m_strBoundary;
}

template <class Tool>
CHttpClientT<Tool>::~CHttpClientT() {
    ReleasePostContext();
}

template <class Tool>
void CHttpClientT<Tool>::SetInternet(const char* szUserAgent, DWORD dwAccessType,
                                     const char* szProxyName, const char* szProxyBypass,
                                     DWORD dwFlags) {
    m_strUserAgent = szUserAgent != nullptr ? szUserAgent : "";
    m_dwAccessType = dwAccessType;
    m_strProxyName = szProxyName != nullptr ? szProxyName : "";
    m_strProxyBypass = szProxyBypass != nullptr ? szProxyBypass : "";
    m_dwFlags = dwFlags;
}

template <class Tool>
void CHttpClientT<Tool>::AddHeader(const char* szName, const char* szValue) {
    if (szName == nullptr || *szName == '\0')
        ThrowMisuse("CHttpClientT::AddHeader: szName can not be NULL.");
    if (szValue == nullptr || *szValue == '\0')
        ThrowMisuse("CHttpClientT::AddHeader: szValue can not be NULL.");
    m_headers.Add(szName, szValue);
}

template <class Tool>
void CHttpClientT<Tool>::ClearHeader() {
    m_headers.Clear();
}

template <class Tool>
void CHttpClientT<Tool>::AddParam(const char* szName, const char* szValue, bool bFile) {
    if (IsPostActive())
        ThrowMisuse(
            "CHttpClientT::AddParam: It is not allowed to call this method if the POST "
            "context is active.");
    if (szName == nullptr || *szName == '\0')
        ThrowMisuse("CHttpClientT::AddParam: szName can not be NULL.");
    if (szValue == nullptr)
        ThrowMisuse("CHttpClientT::AddParam: szValue can not be NULL.");
    m_params.Add(szName, szValue, bFile);
}

template <class Tool>
void CHttpClientT<Tool>::ClearParam() {
    if (IsPostActive())
        ThrowMisuse(
            "CHttpClientT::ClearParam: It is not allowed to call this method if the "
            "POST context is active.");
    m_params.Clear();
}

template <class Tool>
void CHttpClientT<Tool>::ReleasePostContext() {
    for (PostItem& item : m_items) {
        if (item.hFile != INVALID_HANDLE_VALUE)
            CloseHandle(item.hFile);
    }
    m_items.clear();
    m_sendBuffer.clear();
    {
        std::lock_guard<std::mutex> hold(m_interruptLock);
        if (!m_closedByInterrupt) {
            if (m_hRequest != nullptr)
                InternetCloseHandle(m_hRequest);
            if (m_hConnection != nullptr)
                InternetCloseHandle(m_hConnection);
        }
        if (m_hInternet != nullptr)
            InternetCloseHandle(m_hInternet);
        m_hRequest = m_hConnection = m_hInternet = nullptr;
        m_closedByInterrupt = false;
    }
    m_stat = CHttpPostStatT<Tool>();
    m_nItem = 0;
    m_phase = Phase::Head;
}

template <class Tool>
void CHttpClientT<Tool>::OpenFiles() {
    for (PostItem& item : m_items) {
        if (!item.isFile)
            continue;
        item.mimeType = kDefaultMime;
        // A file that cannot be opened goes out as an empty part.
        item.hFile = CreateFileA(item.value.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (item.hFile == INVALID_HANDLE_VALUE)
            continue;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(item.hFile, &size)) {
            const DWORD error = GetLastError();
            std::string message = HttpErrorMessage(kHttpErrGetFileSize);
            message.replace(message.find("%s"), 2, item.value);
            throw httpclientexceptionA(kHttpErrGetFileSize, error, message);
        }
        // The length is announced as 32 bits: a larger file cannot be posted.
        if (static_cast<uint64_t>(size.QuadPart) > 0xFFFFFFFFull)
            ThrowHttpError(kHttpErrOverflow);
        item.cbSize = static_cast<DWORD>(size.QuadPart);

        unsigned char head[kSniffBytes];
        DWORD got = 0;
        if (!ReadFile(item.hFile, head, std::min(kSniffBytes, item.cbSize), &got, nullptr))
            ThrowLastError(kHttpErrReadFile);
        item.mimeType = SniffMimeType(head, got);
        if (SetFilePointer(item.hFile, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
            ThrowLastError(kHttpErrSetFilePointer);
    }
}

template <class Tool>
void CHttpClientT<Tool>::BeginUpload(const char* szServerAddr) {
    if (IsPostActive())
        ThrowMisuse(
            "CHttpClientT::BeginUpload: It is not allowed to call this method if the "
            "POST context is active.");
    if (szServerAddr == nullptr || *szServerAddr == '\0')
        ThrowMisuse("CHttpClientT::BeginUpload: szServerAddr can not be NULL.");
    ReleasePostContext();
    try {
        Publish(
            m_hInternet,
            InternetOpenA(m_strUserAgent.empty() ? kDefaultAgent : m_strUserAgent.c_str(),
                          m_dwAccessType, m_strProxyName.empty() ? nullptr : m_strProxyName.c_str(),
                          m_strProxyBypass.empty() ? nullptr : m_strProxyBypass.c_str(), m_dwFlags),
            kHttpErrInternetOpen);
        SetTimeLimits(m_hInternet);

        const CHttpUrlAnalyzerT<Tool> url(szServerAddr);
        Publish(
            m_hConnection,
            InternetConnectA(m_hInternet, url.host.c_str(), static_cast<INTERNET_PORT>(url.port),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
            kHttpErrInternetConnect);

        const char* acceptTypes[] = {"*/*", nullptr};
        DWORD flags = kPostRequestFlags;
        if (url.secure)
            flags |= INTERNET_FLAG_SECURE;
        Publish(m_hRequest,
                HttpOpenRequestA(m_hConnection, "POST", url.object.c_str(), "HTTP/1.1", nullptr,
                                 acceptTypes, flags, 0),
                kHttpErrOpenRequest);
        // Wine takes the limits from the request handle, not from its parents.
        SetTimeLimits(m_hRequest);

        // The pragma no-cache flag asks for the matching header as well.
        std::string lines = "Cache-Control: no-cache\r\n";
        for (const auto& header : m_headers) {
            lines += header.first + ": " + header.second.value + "\r\n";
        }
        if (!HttpAddRequestHeadersA(m_hRequest, lines.c_str(), static_cast<DWORD>(lines.size()),
                                    HTTP_ADDREQ_FLAG_ADD))
            ThrowLastError(kHttpErrAddHeaders);

        m_items.reserve(m_params.Count());
        for (const auto& param : m_params) {
            PostItem item;
            item.name = param.first;
            item.value = param.second.value;
            item.isFile = param.second.isFile;
            m_items.push_back(std::move(item));
        }
        OpenFiles();

        const std::size_t b = m_strBoundary.size();
        uint64_t total = ClosingLength(b);
        uint64_t data = 0;
        DWORD files = 0;
        for (const PostItem& item : m_items) {
            if (item.isFile) {
                total += FilePartLength(b, item.name.size(), item.value.size(),
                                        item.mimeType.size(), item.cbSize);
                data += item.cbSize;
                ++files;
            } else {
                total += TextPartLength(b, item.name.size(), item.value.size());
                data += item.value.size();
            }
        }
        if (total > 0xFFFFFFFFull)
            ThrowHttpError(kHttpErrOverflow);

        const std::string contentType = "Content-Type: " + m_strContentType + "\r\n";
        if (!HttpAddRequestHeadersA(m_hRequest, contentType.c_str(),
                                    static_cast<DWORD>(contentType.size()), HTTP_ADDREQ_FLAG_ADD))
            ThrowLastError(kHttpErrAddHeaders);

        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = sizeof buffers;
        buffers.dwBufferTotal = static_cast<DWORD>(total);
        if (!SendWithCertificateCheck(
                m_hInternet, m_hRequest, url.host, static_cast<int>(url.port), url.secure,
                [&] { return HttpSendRequestExA(m_hRequest, &buffers, nullptr, 0, 0); }))
            ThrowLastError(kHttpErrSendRequest);

        m_stat.m_bActive = true;
        m_stat.m_cbTotal = static_cast<DWORD>(data);
        m_stat.m_cbActualTotal = static_cast<DWORD>(total);
        m_stat.m_nTotal = static_cast<DWORD>(m_items.size());
        m_stat.m_nFiles = files;
        m_phase = m_items.empty() ? Phase::Closing : Phase::Head;
        m_sendBuffer.reserve(kSendBufferBytes);
    } catch (const std::bad_alloc&) {
        ReleasePostContext();
        ThrowHttpError(kHttpErrOutOfMemory);
    } catch (...) {
        ReleasePostContext();
        throw;
    }
}

template <class Tool>
void CHttpClientT<Tool>::Write(const void* data, DWORD cbyBuff) {
    if (m_sendBuffer.size() + cbyBuff > kSendBufferBytes)
        Flush();
    const char* bytes = static_cast<const char*>(data);
    m_sendBuffer.insert(m_sendBuffer.end(), bytes, bytes + cbyBuff);
}

template <class Tool>
void CHttpClientT<Tool>::Flush() {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(m_sendBuffer.size());
    if (size == 0)
        return;
    if (!InternetWriteFile(m_hRequest, m_sendBuffer.data(), size, &written) || written != size)
        ThrowLastError(kHttpErrWriteFile);
    m_sendBuffer.clear();
}

template <class Tool>
void CHttpClientT<Tool>::WriteText(const std::string& text) {
    Write(text.data(), static_cast<DWORD>(text.size()));
}

template <class Tool>
void CHttpClientT<Tool>::FinishItem() {
    WriteText("\r\n");
    ++m_stat.m_nPosted;
    ++m_nItem;
    m_stat.m_cbCurrParam = 0;
    m_phase = m_nItem < m_items.size() ? Phase::Head : Phase::Closing;
}

template <class Tool>
std::unique_ptr<CHttpResponseT<Tool>> CHttpClientT<Tool>::Proceed(DWORD nDesired) {
    if (!IsPostActive())
        ThrowHttpError(kHttpErrNotStarted);
    if (nDesired == 0)
        ThrowMisuse("CHttpClientT::Proceed: nDesired can not be 0.");
    try {
        switch (m_phase) {
            case Phase::Head: {
                const PostItem& item = m_items[m_nItem];
                WriteText(item.isFile
                              ? FilePartHead(m_strBoundary, item.name, item.value, item.mimeType)
                              : TextPartHead(m_strBoundary, item.name));
                m_phase = Phase::Data;
                const DWORD size =
                    item.isFile ? item.cbSize : static_cast<DWORD>(item.value.size());
                if (size == 0)
                    FinishItem();
                break;
            }
            case Phase::Data: {
                PostItem& item = m_items[m_nItem];
                const DWORD size =
                    item.isFile ? item.cbSize : static_cast<DWORD>(item.value.size());
                const DWORD piece = std::min({nDesired, size - m_stat.m_cbCurrParam, kMaxFileRead});
                if (item.isFile) {
                    unsigned char buffer[kMaxFileRead];
                    DWORD got = 0;
                    if (!ReadFile(item.hFile, buffer, piece, &got, nullptr))
                        ThrowLastError(kHttpErrReadFile);
                    if (got != piece)
                        ThrowHttpError(kHttpErrUnexpectedEof);
                    Write(buffer, piece);
                } else {
                    Write(item.value.data() + m_stat.m_cbCurrParam, piece);
                }
                m_stat.m_cbCurrParam += piece;
                m_stat.m_cbPosted += piece;
                if (m_stat.m_cbCurrParam == size)
                    FinishItem();
                break;
            }
            case Phase::Closing:
                WriteText(ClosingLine(m_strBoundary));
                m_phase = Phase::End;
                break;
            case Phase::End: {
                Flush();
                if (!HttpEndRequestA(m_hRequest, nullptr, 0, 0))
                    ThrowLastError(kHttpErrEndRequest);
                std::unique_ptr<CHttpResponseT<Tool>> response;
                {
                    std::lock_guard<std::mutex> hold(m_interruptLock);
                    // An interrupt that came after the answer closed its handles already.
                    if (m_closedByInterrupt)
                        ThrowHttpError(kHttpErrEndRequest);
                    response = std::make_unique<CHttpResponseT<Tool>>(m_hInternet, m_hConnection,
                                                                      m_hRequest);
                    m_hInternet = m_hConnection = m_hRequest = nullptr;
                }
                ReleasePostContext();
                return response;
            }
        }
    } catch (const std::bad_alloc&) {
        ReleasePostContext();
        ThrowHttpError(kHttpErrOutOfMemory);
    } catch (...) {
        ReleasePostContext();
        throw;
    }
    return nullptr;
}

template <class Tool>
void CHttpClientT<Tool>::Cancel() {
    ReleasePostContext();
}

template <class Tool>
void CHttpClientT<Tool>::Publish(HINTERNET& field, HINTERNET handle, int errorCode) {
    if (handle == nullptr)
        ThrowLastError(errorCode);
    std::lock_guard<std::mutex> hold(m_interruptLock);
    field = handle;
    if (m_interrupted)
        ThrowHttpError(errorCode);
}

template <class Tool>
void CHttpClientT<Tool>::Interrupt() {
    std::lock_guard<std::mutex> hold(m_interruptLock);
    m_interrupted = true;
    if (m_closedByInterrupt)
        return;
    // Closing a handle ends the calls blocked on it; the root handle stays for the post's
    // own thread to close with the rest of its context.
    if (m_hRequest != nullptr)
        InternetCloseHandle(m_hRequest);
    if (m_hConnection != nullptr)
        InternetCloseHandle(m_hConnection);
    m_closedByInterrupt = m_hRequest != nullptr || m_hConnection != nullptr;
}

template class CHttpPostStatT<CHttpToolA>;
template class CHttpResponseT<CHttpToolA>;
template class CHttpClientT<CHttpToolA>;

}  // namespace Kasmo
