// HttpDownloadClient: fetches one file over HTTP/1.1 on a socket of its own into
// `localPath` + ".down", resuming an earlier partial file with a byte range, sending the
// user's cookies for the URL, and renaming the file and giving it the server's time when
// complete. One object per download, run on the transfer worker's thread.
//
// "https://" URLs (port 443 unless given) go over TLS with the platform's certificate
// checks; a redirect may lead from http to https and within https, never from https back
// to plain http (code 1002).
//
// Usage (from the worker):
//     HttpDownloadClient client;
//     client.setProgress(&record.progress);
//     client.setRetry(1, 0, 0);            // up to 11 retries, no pause
//     client.setMaxRedirects(0);
//     client.setDownloadFolder(folder);
//     client.setLocalPath(path);
//     int result = client.download(url, false);   // 0 done, 2 stopped, 3 failed
//     int code = client.lastError();               // HTTP status or 1001..1009
// abort() may be called from any thread at any time, also before download() starts; a
// blocked connect, send or receive notices it within DownloadSocket::kStopPollMs.
// The progress figures (status, KiB done, KiB total) are written with relaxed atomic
// stores, so other threads may read them at any time.
#pragma once

#include "store/transfers/download_io.h"
#include "store/transfers/transfer_runner.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Codes left in lastError() besides HTTP status codes.
enum DownloadErrorCode {
    kDownloadBadUrl = 1001,           // empty or unusable URL
    kDownloadHtmlOrRedirects = 1002,  // an HTML page, or more redirects than allowed
    kDownloadOpenPartial = 1004,      // the partial file cannot be opened
    kDownloadSeekPartial = 1005,      // seeking to the end of the partial file failed
    kDownloadStopped = 1006,          // stopped while receiving
    kDownloadPathTooLong = 1007,      // localPath of 256 bytes or more
    // An "https" server whose certificate failed the check (untrusted authority, another
    // host's name, outside its validity period, revoked); nothing is written.
    kDownloadCertificateRejected = 1008,
    kDownloadHttpsUnsupported = 1009,  // an "https" URL on the native build (no TLS there)
};

// Results of download().
enum DownloadResult {
    kDownloadDone = 0,
    kDownloadStoppedResult = 2,
    kDownloadFailed = 3,
};

// `text` with every pair of separators made one, read once from the left; the text is
// walked by whole characters of the ANSI code page, so a double-byte character whose trail
// byte is a backslash keeps the real separator after it.
std::string CollapseDoubledSeparators(const std::string& text, char separator);

class HttpDownloadClient {
public:
    static constexpr size_t kChunkSize = 5120;  // body piece: write and progress step
    // What one socket read may take. Each receive call is costly under Wine, so the
    // connection is drained in larger reads and the body is then handed on in chunks.
    static constexpr size_t kSocketReadSize = 256 * 1024;
    static constexpr size_t kMaxHeaderLine = 1023;  // longer lines are cut and joined
    static constexpr size_t kMaxHeaderText = 64 * 1024;
    static constexpr size_t kMaxLocalPath = 256;  // localPath must be shorter
    // Bounds on repetitions that could otherwise go on until stopped:
    // resumptions after an early end or a failed write in a row in which the partial file
    // did not grow past its largest size so far (a full disk, a server that keeps
    // dropping at the same place or ignoring the range);
    static constexpr int kMaxStalledResumptions = 10;
    // requests repeated because the server named another file in Content-Disposition
    // (after that the response is taken as it is);
    static constexpr int kMaxNameRepeats = 2;
    // restarts of a request whose sending timed out (then it counts as a failed attempt).
    static constexpr int kMaxSendTimeoutRestarts = 2;

    HttpDownloadClient();
    HttpDownloadClient(const HttpDownloadClient&) = delete;
    HttpDownloadClient& operator=(const HttpDownloadClient&) = delete;

    // Where the figures go; none turns progress reporting off.
    void setProgress(TransferProgress* progress);
    // A 0 argument leaves that limit unchanged.
    void setTimeouts(int connectMs, int receiveMs, int sendMs);
    // mode 0 no retry, 1 limited (count 0 means 10), 2 unlimited.
    void setRetry(int mode, int delayMs, int count);
    void setMaxRedirects(int count);
    void setDownloadFolder(const std::string& path);
    // Also takes the file name after the last "\\" (or "/") when the path is longer than
    // one byte.
    void setLocalPath(const std::string& path);

    // 0 success, 2 stopped, 3 failure.
    int download(const std::string& url, bool noResume);
    void abort();

    int lastError() const { return statusCode.load(std::memory_order_relaxed); }
    // The socket layer's code for the last connection failure (Winsock, SSPI or
    // certificate error), for logs and tests.
    int socketError() const { return socket_.lastError(); }
    const std::string& resultPath() const { return localPath; }
    // KiB stored and KiB expected, readable from any thread.
    uint32_t receivedKiB() const { return doneKiB_.load(std::memory_order_relaxed); }
    uint32_t totalKiB() const { return totalKiB_.load(std::memory_order_relaxed); }
    int reconnectCountSoFar() const { return reconnectCount; }
    int retryCountSoFar() const { return retryCount; }

    // The request text of the current target (for tests of the wire format).
    std::string buildRequest();
    bool parseUrl(const std::string& text);
    // RFC 1123 date, already lower case, read as local time; false when unreadable.
    static bool readHttpDate(const std::string& value, time_t& when);
    static std::string escapePath(const std::string& path);

private:
    enum RequestResult { kAccepted = 0, kNetworkFailure = 1, kStoppedNow = 2, kGiveUp = 3 };
    enum HeaderResult { kHeaderOk = 0, kHeaderRetry = 1, kHeaderRedirect = 2, kHeaderFail = 3 };

    int requestOnce();
    int interpretHeader(const std::string& header, uint64_t& contentLength,
                        std::string& serverFileName);
    bool readHeader(std::string& header);
    IoStatus readSome(char* out, size_t capacity, size_t& got);
    IoStatus fillReader();
    std::string partialPath() const;
    void reportProgress();
    void closeConnection();

    std::string url;
    std::string localPath;
    std::string fileName;
    std::string downloadFolder;
    std::atomic<bool> abortRequested{false};
    bool noResume = false;
    bool requireLength = true;
    bool appendMode = false;
    std::atomic<int> statusCode{0};
    uint64_t resumeOffset = 0;
    uint64_t expectedTotal = 0;
    uint64_t responseLength = 0;
    uint64_t receivedNow = 0;
    time_t lastModified = 0;
    bool haveLastModified = false;
    std::string contentType;
    std::string referer;
    std::string cookies;
    std::string userAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
    int connectTimeoutMs = 10000;
    int receiveTimeoutMs = 10000;
    int sendTimeoutMs = 10000;
    int retryMode = 0;
    int retryDelayMs = 0;
    int maxRetries = 0;
    int maxRedirects = 2;
    int retryCount = 0;
    int reconnectCount = 0;
    std::string host;
    std::string path;
    int port = 80;
    bool secure_ = false;  // the current target is "https"
    TransferProgress* progress = nullptr;
    std::string serverFileName_;  // the name the server suggested last
    int nameRepeats_ = 0;
    bool rangeSent_ = false;
    // Set once a partial file that did not fit the server's answer was dropped, so that a
    // download starts over from the first byte at most once.
    bool restartedFromStart_ = false;

    DownloadSocket socket_;
    std::vector<char> reader_;
    size_t readerStart_ = 0;
    size_t readerEnd_ = 0;

    std::atomic<uint32_t> doneKiB_{0};
    std::atomic<uint32_t> totalKiB_{0};
};
