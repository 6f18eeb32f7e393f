// The multipart form-post client over WinInet, as the store's uploads use it: one POST of
// text fields and files, streamed in small chunks with the request length announced ahead,
// so that the caller can report progress and stop between chunks. Every failure is thrown
// as httpclientexceptionA (http_form.h); before it leaves a call, every handle that call's
// post opened is closed. All calls of one client are made on one thread.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "store/transfers/http_form.h"

namespace Kasmo {

template <class Tool>
class CHttpClientT;

// Figures of the active post. Each throws code 0 while no post is active.
template <class Tool>
class CHttpPostStatT {
public:
    DWORD PostedByte() const;           // data bytes written so far (values and file contents)
    DWORD TotalByte() const;            // data bytes in all, without the multipart framing
    DWORD ActualTotalByte() const;      // the request length announced
    DWORD PostedCount() const;          // params completely written
    DWORD TotalCount() const;           // params
    DWORD FileCount() const;            // file params
    DWORD CurrParamPostedByte() const;  // data bytes written of the current param

private:
    friend class CHttpClientT<Tool>;
    void Check(const char* method) const;

    bool m_bActive = false;
    DWORD m_cbPosted = 0;
    DWORD m_cbTotal = 0;
    DWORD m_cbActualTotal = 0;
    DWORD m_nPosted = 0;
    DWORD m_nTotal = 0;
    DWORD m_nFiles = 0;
    DWORD m_cbCurrParam = 0;
};

// The server's answer to a finished post. It owns the post's WinInet handles and closes
// them when destroyed; the store deletes it without reading it.
template <class Tool>
class CHttpResponseT {
public:
    CHttpResponseT(HINTERNET hInternet, HINTERNET hConnection, HINTERNET hRequest);
    CHttpResponseT(const CHttpResponseT&) = delete;
    CHttpResponseT& operator=(const CHttpResponseT&) = delete;
    ~CHttpResponseT();

    // The status code of the answer, 0 when it cannot be read.
    DWORD GetStatus() const;

private:
    HINTERNET m_hInternet;
    HINTERNET m_hConnection;
    HINTERNET m_hRequest;
};

template <class Tool>
class CHttpClientT {
    static_assert(std::is_same<typename Tool::CharType, char>::value,
                  "only the narrow client is built");

public:
    using GuidMaker = HRESULT(WINAPI*)(GUID*);

    // The boundary comes from a new GUID (CoCreateGuid unless a test passes its own maker);
    // when none can be made, the fixed boundary is used.
    explicit CHttpClientT(GuidMaker makeGuid = nullptr);
    CHttpClientT(const CHttpClientT&) = delete;
    CHttpClientT& operator=(const CHttpClientT&) = delete;
    ~CHttpClientT();

    // Settings of the WinInet root handle; null texts mean none.
    void SetInternet(const char* szUserAgent, DWORD dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG,
                     const char* szProxyName = nullptr, const char* szProxyBypass = nullptr,
                     DWORD dwFlags = 0);

    // Empty or null names or values are refused (code 0).
    void AddHeader(const char* szName, const char* szValue);
    void ClearHeader();

    // A text field, or with bFile the path of a file whose contents are sent. Refused while
    // a post is active.
    void AddParam(const char* szName, const char* szValue, bool bFile = false);
    void ClearParam();

    // Connects, sends the request head with the whole length announced and makes the post
    // active. szServerAddr is the full URL.
    void BeginUpload(const char* szServerAddr);

    // Writes the next piece of the body: one part head, at most nDesired data bytes, or the
    // closing line. The call after the closing line ends the request and returns the
    // response; every earlier call returns null.
    std::unique_ptr<CHttpResponseT<Tool>> Proceed(DWORD nDesired);

    // Ends the active post at once, closing its handles; harmless when none is active.
    void Cancel();

    // The one call that may come from another thread, at any time: closes the handles of
    // the active post so that a WinInet call blocked on them (connecting, sending, waiting
    // for the answer) returns at once with an error, which the post's thread then throws.
    // Every later BeginUpload of this client throws at once.
    void Interrupt();

    bool IsPostActive() const { return m_stat.m_bActive; }
    const CHttpPostStatT<Tool>& GetPostStat() const { return m_stat; }
    DWORD PostedByte() const { return m_stat.PostedByte(); }
    DWORD TotalByte() const { return m_stat.TotalByte(); }
    const std::string& Boundary() const { return m_strBoundary; }
    const std::string& ContentType() const { return m_strContentType; }

private:
    struct PostItem {
        std::string name;
        std::string value;  // text value, or the file's path
        bool isFile = false;
        HANDLE hFile = INVALID_HANDLE_VALUE;
        DWORD cbSize = 0;
        std::string mimeType;
    };
    enum class Phase { Head, Data, Closing, End };

    void OpenFiles();
    void Write(const void* data, DWORD cbyBuff);
    void WriteText(const std::string& text);
    void Flush();
    void FinishItem();
    void ReleasePostContext();

    std::string m_strBoundary;
    std::string m_strContentType;
    std::string m_strUserAgent;
    DWORD m_dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string m_strProxyName;
    std::string m_strProxyBypass;
    DWORD m_dwFlags = 0;
    CHttpClientMapT<Tool> m_headers;
    CHttpClientMapT<Tool> m_params;

    // Publishes a newly opened handle under the interrupt lock; throws when interrupted.
    void Publish(HINTERNET& field, HINTERNET handle, int errorCode);

    HINTERNET m_hInternet = nullptr;
    HINTERNET m_hConnection = nullptr;
    HINTERNET m_hRequest = nullptr;
    // Guards the three handles' values against Interrupt, which closes the connection and
    // request handles from another thread; their owner then only forgets them.
    std::mutex m_interruptLock;
    bool m_interrupted = false;
    bool m_closedByInterrupt = false;
    std::vector<PostItem> m_items;
    // Body bytes not yet handed to WinInet (see Write).
    std::vector<char> m_sendBuffer;
    std::size_t m_nItem = 0;
    Phase m_phase = Phase::Head;
    CHttpPostStatT<Tool> m_stat;
};

using CHttpPostStatA = CHttpPostStatT<CHttpToolA>;
using CHttpResponseA = CHttpResponseT<CHttpToolA>;
using CHttpClientA = CHttpClientT<CHttpToolA>;

// Request flags of every post: reload, no cache write, keep the connection, resynchronise,
// hyperlink, no user interface, pragma no-cache.
constexpr DWORD kPostRequestFlags = 0x84400F00;

}  // namespace Kasmo
