// The download client's logic: URL handling, the request and its headers, reading and
// interpreting the response header, resuming the partial file, retries and the receive
// loop. Everything that touches the platform goes through download_io.h.
#include "store/transfers/download_client.h"

#include "store/transfers/ascii_text.h"
#include "text/multibyte.h"
#include "text/xml_entities.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

const char kBlanks[] = " \t\r\n";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string TrimStart(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    return first == std::string::npos ? std::string() : text.substr(first);
}

// The value of `name` (lower case, with its colon) in a lower-cased header: the text up
// to the next line break, trimmed.
bool HeaderValue(const std::string& header, const char* name, std::string& value) {
    const size_t at = header.find(name);
    if (at == std::string::npos)
        return false;
    const size_t start = at + std::strlen(name);
    const size_t end = header.find("\r\n", start);
    value = Trim(header.substr(start, end == std::string::npos ? std::string::npos : end - start));
    return true;
}

int Number(const std::string& text, size_t from, size_t count) {
    if (from >= text.size())
        return 0;
    return std::atoi(text.substr(from, count).c_str());
}

// An absolute "http://" or "https://" URL somewhere in `text`, as a redirect target or a
// URL typed by the user may carry one.
bool IsAbsoluteHttpUrl(const std::string& text) {
    const std::string lower = LowerAscii(text);
    return lower.find("http://") != std::string::npos ||
           lower.find("https://") != std::string::npos;
}

// False when the answer to a range request from `offset` says that a partial file of that
// length cannot be resumed: 416 (the range lies beyond the file), or a 206 whose
// Content-Range does not start at `offset` or whose total differs from the start plus the
// body's length (the file on the server changed). Other answers (a 200 rewrites from the
// start anyway) fit.
bool RangeAnswerFits(const std::string& rawHeader, uint64_t offset) {
    const std::string header = LowerAscii(rawHeader);
    const size_t space = header.find(' ');
    const int status = space == std::string::npos ? 0 : std::atoi(header.c_str() + space + 1);
    if (status == 416)
        return false;
    if (status != 206)
        return true;
    std::string range;
    if (!HeaderValue(header, "content-range:", range))
        return true;
    // "bytes first-last/total", the total may be "*".
    const size_t dash = range.find('-');
    const size_t slash = range.find('/');
    if (range.compare(0, 6, "bytes ") != 0 || dash == std::string::npos || slash < dash)
        return false;
    const uint64_t first = std::strtoull(range.c_str() + 6, nullptr, 10);
    const uint64_t last = std::strtoull(range.c_str() + dash + 1, nullptr, 10);
    if (first != offset || last < first)
        return false;
    if (slash == std::string::npos || range.compare(slash + 1, 1, "*") == 0)
        return true;
    const uint64_t total = std::strtoull(range.c_str() + slash + 1, nullptr, 10);
    std::string length;
    if (HeaderValue(header, "content-length:", length) &&
        std::strtoull(length.c_str(), nullptr, 10) + offset != total)
        return false;
    return total == last + 1;
}

}  // namespace

std::string CollapseDoubledSeparators(const std::string& text, char separator) {
    std::string out;
    out.reserve(text.size());
    bool afterSeparator = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[i]))) {
            out.append(text, i, 2);
            ++i;
            afterSeparator = false;
            continue;
        }
        // The second of a pair is dropped; a third starts a new pair.
        if (text[i] == separator && afterSeparator) {
            afterSeparator = false;
            continue;
        }
        afterSeparator = text[i] == separator;
        out += text[i];
    }
    return out;
}

HttpDownloadClient::HttpDownloadClient()
    : lastModified(std::time(nullptr)), socket_(abortRequested), reader_(kSocketReadSize) {}

void HttpDownloadClient::setProgress(TransferProgress* target) {
    progress = target;
}

void HttpDownloadClient::setTimeouts(int connectMs, int receiveMs, int sendMs) {
    if (connectMs != 0)
        connectTimeoutMs = connectMs;
    if (receiveMs != 0)
        receiveTimeoutMs = receiveMs;
    if (sendMs != 0)
        sendTimeoutMs = sendMs;
}

void HttpDownloadClient::setRetry(int mode, int delayMs, int count) {
    retryMode = mode;
    retryDelayMs = delayMs;
    maxRetries = (mode == 1 && count == 0) ? 10 : count;
}

void HttpDownloadClient::setMaxRedirects(int count) {
    maxRedirects = count;
}

void HttpDownloadClient::setDownloadFolder(const std::string& folder) {
    downloadFolder = folder;
}

void HttpDownloadClient::setLocalPath(const std::string& target) {
    localPath = target;
    if (target.size() <= 1)
        return;
    size_t cut = target.rfind('\\');
    if (cut == std::string::npos)
        cut = target.rfind('/');
    fileName = cut == std::string::npos ? target : target.substr(cut + 1);
}

// A stop may arrive before the run starts (the manager stops queued transfers too), so
// the flag is only ever set, never cleared.
void HttpDownloadClient::abort() {
    abortRequested.store(true, std::memory_order_relaxed);
}

bool HttpDownloadClient::parseUrl(const std::string& text) {
    const std::string trimmed = Trim(text);
    const size_t schemeEnd = trimmed.find("://");
    if (schemeEnd == std::string::npos)
        return false;
    const std::string scheme = LowerAscii(trimmed.substr(0, schemeEnd + 3));
    if (scheme != "http://" && scheme != "https://")
        return false;
    const bool secure = scheme == "https://";
    const std::string rest = trimmed.substr(schemeEnd + 3);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return false;
    std::string hostPart = rest.substr(0, slash);
    int newPort = secure ? 443 : 80;
    const size_t colon = hostPart.find(':');
    if (colon != std::string::npos) {
        newPort = std::atoi(hostPart.c_str() + colon + 1);
        hostPart.resize(colon);
        if (newPort <= 0 || newPort > 65535)
            return false;
    }
    if (hostPart.empty())
        return false;
    host = hostPart;
    path = rest.substr(slash);
    port = newPort;
    secure_ = secure;
    return true;
}

std::string HttpDownloadClient::escapePath(const std::string& raw) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(raw.size());
    for (char byte : raw) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= '!' && c <= '~') {
            escaped.push_back(byte);
        } else {
            escaped.push_back('%');
            escaped.push_back(kHex[c >> 4]);
            escaped.push_back(kHex[c & 15]);
        }
    }
    return escaped;
}

bool HttpDownloadClient::readHttpDate(const std::string& value, time_t& when) {
    static const char kMonths[] = "jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec";
    const size_t comma = value.find(',');
    if (comma == std::string::npos)
        return false;
    const std::string date = TrimStart(value.substr(comma + 1));
    std::tm parts{};
    parts.tm_mday = Number(date, 0, 2);
    int month = 1;
    if (date.size() >= 6) {
        const char* found = std::strstr(kMonths, LowerAscii(date.substr(3, 3)).c_str());
        if (found != nullptr)
            month = static_cast<int>(found - kMonths) / 4 + 1;
    }
    parts.tm_mon = month - 1;
    const std::string rest = date.size() > 6 ? TrimStart(date.substr(6)) : std::string();
    const size_t blank = rest.find_first_of(" \t");
    int year = 2000;
    std::string clock;
    if (blank != std::string::npos) {
        year = std::atoi(rest.substr(0, blank).c_str());
        clock = rest.substr(blank + 1);
    }
    parts.tm_year = year - 1900;
    parts.tm_hour = Number(clock, 0, 2);
    parts.tm_min = Number(clock, 3, 2);
    parts.tm_sec = Number(clock, 6, 2);
    parts.tm_isdst = -1;
    const time_t made = std::mktime(&parts);
    if (made == static_cast<time_t>(-1))
        return false;
    when = made;
    return true;
}

std::string HttpDownloadClient::partialPath() const {
    const std::string separator(1, LocalPathSeparator());
    std::string partial;
    if (!localPath.empty()) {
        partial = localPath + ".down";
    } else {
        std::string name = serverFileName_;
        if (name.empty()) {
            const size_t cut = path.find_last_of("/\\");
            name = cut == std::string::npos ? path : path.substr(cut + 1);
            // The query is no part of a file name.
            const size_t query = name.find('?');
            if (query != std::string::npos)
                name.resize(query);
        }
        partial = downloadFolder + separator + name + ".down";
    }
    return CollapseDoubledSeparators(partial, separator[0]);
}

std::string HttpDownloadClient::buildRequest() {
    std::string request = "GET " + escapePath(path) + " HTTP/1.1\r\n";
    request += "Host: " + host + "\r\n";
    request += "Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n";
    request += "User-Agent: " + userAgent + "\r\n";
    if (!referer.empty())
        request += "Referer: " + referer + "\r\n";
    if (!cookies.empty())
        request += "Cookie: " + cookies + "\r\n";
    request += "Connection: close\r\n";
    uint64_t partialSize = 0;
    rangeSent_ = !noResume && QueryFileSize(partialPath(), partialSize) && partialSize > 0;
    if (rangeSent_) {
        resumeOffset = partialSize;
        request += "Range: bytes=" + std::to_string(partialSize) + "-\r\n";
    }
    request += "\r\n";
    return request;
}

void HttpDownloadClient::closeConnection() {
    socket_.close();
    readerStart_ = readerEnd_ = 0;
}

IoStatus HttpDownloadClient::fillReader() {
    size_t got = 0;
    const IoStatus status = socket_.receive(reader_.data(), reader_.size(), receiveTimeoutMs, got);
    readerStart_ = 0;
    readerEnd_ = status == IoStatus::kOk ? got : 0;
    return status;
}

IoStatus HttpDownloadClient::readSome(char* out, size_t capacity, size_t& got) {
    got = 0;
    if (readerStart_ == readerEnd_) {
        const IoStatus status = fillReader();
        if (status != IoStatus::kOk)
            return status;
    }
    got = std::min(capacity, readerEnd_ - readerStart_);
    std::memcpy(out, reader_.data() + readerStart_, got);
    readerStart_ += got;
    return IoStatus::kOk;
}

bool HttpDownloadClient::readHeader(std::string& header) {
    header.clear();
    std::string line;
    bool previousCut = false;
    for (;;) {
        line.clear();
        bool cut = false;
        for (;;) {
            if (readerStart_ == readerEnd_ && fillReader() != IoStatus::kOk)
                return false;
            const char c = reader_[readerStart_++];
            if (c == '\n')
                break;
            line.push_back(c);
            if (line.size() == kMaxHeaderLine) {
                cut = true;
                break;
            }
        }
        if (!cut && !line.empty() && line.back() == '\r')
            line.pop_back();
        if (!cut && line.empty() && !previousCut)
            return true;
        if (!header.empty() && !previousCut)
            header += "\r\n";
        header += line;
        previousCut = cut;
        if (header.size() > kMaxHeaderText)
            return false;
    }
}

int HttpDownloadClient::interpretHeader(const std::string& rawHeader, uint64_t& contentLength,
                                        std::string& serverFileName) {
    contentLength = 0;
    statusCode.store(0, std::memory_order_relaxed);
    serverFileName.clear();
    lastModified = std::time(nullptr);
    haveLastModified = false;

    const std::string header = LowerAscii(rawHeader);
    const size_t lineEnd = header.find("\r\n");
    const std::string statusLine = Trim(header.substr(0, lineEnd));
    const size_t firstSpace = statusLine.find(' ');
    const size_t secondSpace =
        firstSpace == std::string::npos ? std::string::npos : statusLine.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos)
        return kHeaderFail;
    const int status =
        std::atoi(statusLine.substr(firstSpace + 1, secondSpace - firstSpace - 1).c_str());
    statusCode.store(status, std::memory_order_relaxed);

    if (status >= 300 && status <= 399) {
        std::string target;
        if (!HeaderValue(header, "location:", target))
            return kHeaderFail;
        referer = url;
        if (IsAbsoluteHttpUrl(target)) {
            // Leaving TLS for plain text would hand the request (cookies included) and the
            // file to anyone on the way.
            if (secure_ && !StartsWithNoCase(target, "https://")) {
                statusCode.store(kDownloadHtmlOrRedirects, std::memory_order_relaxed);
                return kHeaderFail;
            }
            url = target;
        } else {
            std::replace(target.begin(), target.end(), '\\', '/');
            if (!target.empty() && target[0] == '/') {
                path = target;
                return kHeaderRedirect;
            }
            int levels = 0;
            while (target.compare(0, 3, "../") == 0) {
                target.erase(0, 3);
                ++levels;
            }
            for (int i = 0; i <= levels; ++i) {
                const size_t slash = url.rfind('/');
                if (slash == std::string::npos)
                    break;
                url.resize(slash);
            }
            url += "/" + target;
        }
        return parseUrl(url) ? kHeaderRedirect : kHeaderFail;
    }
    if (status >= 500)
        return kHeaderRetry;
    if (status >= 400)
        return kHeaderFail;

    std::string value;
    if (HeaderValue(header, "content-length:", value))
        contentLength = std::strtoull(value.c_str(), nullptr, 10);
    if (HeaderValue(header, "content-disposition:", value)) {
        const size_t at = value.find("filename=\"");
        if (at != std::string::npos) {
            const size_t start = at + 10;
            const size_t end = value.find('"', start);
            serverFileName = Trim(
                value.substr(start, end == std::string::npos ? std::string::npos : end - start));
        }
    }
    if (HeaderValue(header, "content-type:", value))
        contentType = value;
    if (HeaderValue(header, "last-modified:", value))
        haveLastModified = readHttpDate(value, lastModified);
    return kHeaderOk;
}

int HttpDownloadClient::requestOnce() {
    int redirects = 0;
    int sendRestarts = 0;
    for (;;) {
        resumeOffset = 0;
        responseLength = 0;
        appendMode = false;
        closeConnection();
        if (!socket_.create())
            return kGiveUp;
        if (abortRequested.load(std::memory_order_relaxed))
            return kStoppedNow;

        const IoStatus connected = socket_.connect(host, port, connectTimeoutMs);
        if (connected == IoStatus::kStopped)
            return kStoppedNow;
        if (connected != IoStatus::kOk)
            return kNetworkFailure;
        if (secure_) {
            const IoStatus secured = socket_.startTls(host, connectTimeoutMs);
            if (secured == IoStatus::kStopped)
                return kStoppedNow;
            if (secured == IoStatus::kRejected || secured == IoStatus::kUnsupported) {
                // Asking again cannot change the certificate; fail at once.
                statusCode.store(secured == IoStatus::kRejected ? kDownloadCertificateRejected
                                                                : kDownloadHttpsUnsupported,
                                 std::memory_order_relaxed);
                return kGiveUp;
            }
            if (secured != IoStatus::kOk)
                return kNetworkFailure;
        }

        cookies = ReadUrlCookies(url);
        const std::string request = buildRequest();
        const IoStatus sent = socket_.sendAll(request.data(), request.size(), sendTimeoutMs);
        if (sent == IoStatus::kStopped)
            return kStoppedNow;
        if (sent == IoStatus::kTimedOut && sendRestarts++ < kMaxSendTimeoutRestarts)
            continue;
        if (sent != IoStatus::kOk)
            return kNetworkFailure;
        if (abortRequested.load(std::memory_order_relaxed))
            return kStoppedNow;

        std::string header;
        if (!readHeader(header))
            return abortRequested.load(std::memory_order_relaxed) ? kStoppedNow : kNetworkFailure;

        uint64_t contentLength = 0;
        std::string suggested;
        const int interpreted = interpretHeader(header, contentLength, suggested);
        if (!suggested.empty()) {
            serverFileName_ = suggested;
            // The partial file is named after the server's choice (when no local path was
            // given), so ask again with the range of that file; a server that keeps
            // changing its mind is taken at its word after a few rounds.
            if (!EqualNoCase(suggested, fileName) && nameRepeats_ < kMaxNameRepeats) {
                ++nameRepeats_;
                fileName = suggested;
                continue;
            }
        }
        if (rangeSent_ && !restartedFromStart_ && !RangeAnswerFits(header, resumeOffset)) {
            // The partial file does not belong to the file the server has now (it is as long
            // or longer, or the server's file changed size): drop it and ask once for the
            // whole file. Appending would make a damaged file look complete.
            restartedFromStart_ = true;
            RemoveFileIfPresent(partialPath());
            continue;
        }
        switch (interpreted) {
            case kHeaderOk:
                break;
            case kHeaderRetry:
                return kNetworkFailure;
            case kHeaderRedirect:
                if (redirects < maxRedirects) {
                    ++redirects;
                    continue;
                }
                statusCode.store(kDownloadHtmlOrRedirects, std::memory_order_relaxed);
                return kGiveUp;
            default:
                return kGiveUp;
        }

        responseLength = contentLength;
        const int status = statusCode.load(std::memory_order_relaxed);
        if (!rangeSent_) {
            expectedTotal = contentLength;
        } else if (status == 206) {
            expectedTotal = contentLength + resumeOffset;
            appendMode = true;
        } else {
            appendMode = false;
            resumeOffset = 0;
            expectedTotal = contentLength;
        }
        if (localPath.empty()) {
            const std::string partial = partialPath();
            localPath = partial.substr(0, partial.size() - 5);
        }
        return kAccepted;
    }
}

void HttpDownloadClient::reportProgress() {
    const uint32_t done = static_cast<uint32_t>(resumeOffset / 1024);
    const uint32_t total = static_cast<uint32_t>(expectedTotal / 1024);
    doneKiB_.store(done, std::memory_order_relaxed);
    totalKiB_.store(total, std::memory_order_relaxed);
    if (progress != nullptr)
        StoreAmounts(*progress, done, total);
}

int HttpDownloadClient::download(const std::string& target, bool noResumeArgument) {
    noResume = noResumeArgument;
    retryCount = 0;
    reconnectCount = 0;
    nameRepeats_ = 0;
    restartedFromStart_ = false;
    url = Trim(target);
    if (url.empty()) {
        statusCode.store(kDownloadBadUrl, std::memory_order_relaxed);
        return kDownloadFailed;
    }
    url = decodeXmlEntities(url);
    if (localPath.size() >= kMaxLocalPath) {
        statusCode.store(kDownloadPathTooLong, std::memory_order_relaxed);
        return kDownloadFailed;
    }
    if (!parseUrl(url)) {
        if (IsAbsoluteHttpUrl(url)) {
            statusCode.store(kDownloadBadUrl, std::memory_order_relaxed);
            return kDownloadFailed;
        }
        url = "http://" + url;
        if (!parseUrl(url)) {
            statusCode.store(kDownloadBadUrl, std::memory_order_relaxed);
            return kDownloadFailed;
        }
    }
    if (referer.empty()) {
        referer = url.substr(0, url.find('?'));
        const size_t slash = referer.rfind('/');
        if (slash != std::string::npos)
            referer.resize(slash);
    }
    if (downloadFolder.empty())
        return kDownloadFailed;
    receivedNow = resumeOffset = expectedTotal = responseLength = 0;

    std::vector<char> chunk(kChunkSize);
    uint64_t largestPartial = 0;
    int stalledResumptions = 0;
    for (;;) {
        const int requested = requestOnce();
        if (requested == kNetworkFailure) {
            if (abortRequested.load(std::memory_order_relaxed))
                return kDownloadStoppedResult;
            if (retryMode == 1) {
                if (retryCount > maxRetries)
                    return kDownloadFailed;
                ++retryCount;
            }
            if (retryMode != 1 && retryMode != 2)
                return kDownloadFailed;
            for (int waited = 0; waited < retryDelayMs; waited += DownloadSocket::kStopPollMs) {
                if (abortRequested.load(std::memory_order_relaxed))
                    return kDownloadStoppedResult;
                std::this_thread::sleep_for(std::chrono::milliseconds(DownloadSocket::kStopPollMs));
            }
            continue;
        }
        if (requested == kStoppedNow)
            return kDownloadStoppedResult;
        if (requested != kAccepted) {
            closeConnection();
            return kDownloadFailed;
        }

        if (progress != nullptr)
            StoreStatus(*progress, 0);
        if (requireLength && responseLength == 0) {
            closeConnection();
            return kDownloadFailed;
        }
        if (contentType.find("text/html") != std::string::npos) {
            closeConnection();
            statusCode.store(kDownloadHtmlOrRedirects, std::memory_order_relaxed);
            return kDownloadFailed;
        }
        uint64_t existing = 0;
        if (!noResume && QueryFileSize(localPath, existing) && existing == expectedTotal) {
            resumeOffset = expectedTotal = existing;
            reportProgress();
            closeConnection();
            return kDownloadDone;
        }

        const std::string partial = partialPath();
        DownloadFile file;
        if (!file.open(partial, !appendMode)) {
            closeConnection();
            statusCode.store(kDownloadOpenPartial, std::memory_order_relaxed);
            return kDownloadFailed;
        }
        if (appendMode && !file.seekToEnd()) {
            file.close();
            closeConnection();
            statusCode.store(kDownloadSeekPartial, std::memory_order_relaxed);
            return kDownloadFailed;
        }

        receivedNow = 0;
        bool resume = false;
        for (;;) {
            if (abortRequested.load(std::memory_order_relaxed))
                break;
            size_t capacity = kChunkSize;
            if (requireLength && responseLength - receivedNow < capacity)
                capacity = static_cast<size_t>(responseLength - receivedNow);
            size_t got = 0;
            const IoStatus read = readSome(chunk.data(), capacity, got);
            if (read == IoStatus::kStopped)
                break;
            if (read != IoStatus::kOk) {
                resume = requireLength;
                break;
            }
            if (!file.write(chunk.data(), got)) {
                resume = true;
                break;
            }
            resumeOffset += got;
            receivedNow += got;
            reportProgress();
            if (receivedNow >= responseLength)
                break;
        }
        const bool stored = file.close();
        closeConnection();
        // A stop that comes once every byte is stored is too late to matter: the file is
        // complete and is finished like any other.
        const bool complete = stored && receivedNow >= responseLength;
        if (abortRequested.load(std::memory_order_relaxed) && !complete) {
            statusCode.store(kDownloadStopped, std::memory_order_relaxed);
            return kDownloadStoppedResult;
        }
        if (!stored)
            resume = true;
        if (resume) {
            ++reconnectCount;
            uint64_t onDisk = 0;
            QueryFileSize(partial, onDisk);
            if (onDisk > largestPartial) {
                largestPartial = onDisk;
                stalledResumptions = 0;
            } else if (++stalledResumptions > kMaxStalledResumptions) {
                return kDownloadFailed;
            }
            continue;
        }

        RemoveFileIfPresent(localPath);
        if (!RenameFile(partial, localPath))
            return kDownloadFailed;
        if (haveLastModified)
            SetFileModificationTime(localPath, lastModified);
        return kDownloadDone;
    }
}
