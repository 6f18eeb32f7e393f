// Copy and pack in one pass; see staged_packer.h.
//
// The calling thread lists the tree first (creating the staging folders as it goes), then
// writes the archive entry by entry in listing order. Ahead of it, a copier thread reads
// each small file once, writes its staging copy and keeps the bytes, and deflaters turn
// those bytes into finished entries, so the writer only appends. The file-system calls stay
// on the copier: under Wine each one is a round trip to the wineserver, and with every core
// busy deflating those round trips wait for the scheduler, so only the first deflater runs
// whenever the copier is not well ahead. A file larger than kInMemoryLimit is copied by the
// writer itself when its turn comes, each block going into the staging copy and the
// archive, so memory stays bounded by kInFlightBudget whatever the tree holds.
#include "store/transfers/staged_packer.h"

#include <windows.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "store/files/file_operations.h"
#include "store/files/folder_entries.h"
#include "store/files/path_walk.h"
#include "store/shell/activity_log.h"
#include "store/transfers/package_names.h"
#include "store/transfers/zip_entry_info.h"

namespace {

constexpr DWORD kBlockSize = 256 * 1024;
constexpr uint64_t kInMemoryLimit = 4 * 1024 * 1024;
// Bytes the copier and the deflaters hold at most at once (a file's bytes and its deflated
// form count twice its size); one file is always allowed, so the tree keeps moving.
constexpr uint64_t kInFlightBudget = 24 * 1024 * 1024;
constexpr unsigned kMostDeflaters = 3;
// A deflater after the first works only while this many copied bytes per extra deflater
// wait for it: when the copier falls behind, the cores go to the copier and the wineserver.
constexpr uint64_t kBacklogPerExtraDeflater = 4 * 1024 * 1024;
// Deflated data goes into the archive in pieces of this size, with a stop check between.
constexpr std::size_t kArchiveWriteBlock = 1024 * 1024;
// minizip's own deflate settings, so an entry deflated here is the entry it would make.
constexpr int kMemoryLevel = 8;

// A small file's way through the stages.
enum class EntryState { kWaiting, kCopied, kDeflating, kReady, kFailed };

struct PackEntry {
    std::string source;
    std::string staging;
    std::string name;  // the archive entry's name; empty for entries that are only copied
    bool isFolder = false;
    bool inMemory = false;  // small enough to be copied and deflated ahead of the writer
    uint64_t size = 0;      // as listed

    EntryState state = EntryState::kWaiting;
    zip_fileinfo info{};
    std::vector<unsigned char> bytes;     // the copier's, until deflated
    std::vector<unsigned char> deflated;  // the deflater's, until written
    uLong crc = 0;
    uLong length = 0;
};

// Lists the tree below `source` depth first in listing order, a folder before its
// contents, creating each staging folder. `name` is the folder's archive name, empty when
// the folder is not packed. False when a path grows too long or the stop is seen.
bool ListTree(const std::string& source, const std::string& staging, const std::string& name,
              const std::atomic<bool>& stop, std::vector<PackEntry>& entries) {
    FolderEntries listing(source);
    while (const WIN32_FIND_DATAA* found = listing.Next()) {
        if (stop.load())
            return false;
        PackEntry entry;
        entry.source = source + "\\" + found->cFileName;
        entry.staging = staging + "\\" + found->cFileName;
        if (entry.source.size() >= kPathBufferSize || entry.staging.size() >= kPathBufferSize)
            return false;
        if (!name.empty() && found->cFileName[0] != '.')
            entry.name = name + "\\" + found->cFileName;
        if (IsFolderEntry(*found) && IsLinkEntry(*found)) {
            LogLine("Folder copy: link %s left where it is", entry.source.c_str());
        } else if (IsFolderEntry(*found)) {
            entry.isFolder = true;
            CreateFolderTree(entry.staging.c_str());
            entries.push_back(entry);
            if (!ListTree(entry.source, entry.staging, entry.name, stop, entries))
                return false;
        } else {
            entry.size = (static_cast<uint64_t>(found->nFileSizeHigh) << 32) | found->nFileSizeLow;
            entry.inMemory = entry.size <= kInMemoryLimit;
            entries.push_back(std::move(entry));
        }
    }
    return true;
}

// Where a file's bytes go besides its staging copy.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool begin(const zip_fileinfo& info) = 0;
    virtual bool take(const unsigned char* bytes, DWORD count) = 0;
    // Always called once begin succeeded; `ok` says whether every byte arrived.
    virtual bool end(bool ok) = 0;
};

class CopyOnlySink : public ByteSink {
public:
    bool begin(const zip_fileinfo&) override { return true; }
    bool take(const unsigned char*, DWORD) override { return true; }
    bool end(bool ok) override { return ok; }
};

// Keeps the bytes with the entry for a deflater.
class MemorySink : public ByteSink {
public:
    explicit MemorySink(PackEntry& entry) : entry_(entry) {}
    bool begin(const zip_fileinfo& info) override {
        entry_.info = info;
        entry_.bytes.clear();
        entry_.bytes.reserve(static_cast<std::size_t>(entry_.size));
        return true;
    }
    bool take(const unsigned char* bytes, DWORD count) override {
        entry_.bytes.insert(entry_.bytes.end(), bytes, bytes + count);
        return entry_.bytes.size() <= 0xffffffffu;
    }
    bool end(bool ok) override { return ok; }

private:
    PackEntry& entry_;
};

// Streams into a new entry of the archive.
class ArchiveSink : public ByteSink {
public:
    ArchiveSink(zipFile zip, const std::string& name) : zip_(zip), name_(name) {}

    bool begin(const zip_fileinfo& info) override {
        return zipOpenNewFileInZip(zip_, name_.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   Z_DEFLATED, Z_DEFAULT_COMPRESSION) == ZIP_OK;
    }
    bool take(const unsigned char* bytes, DWORD count) override {
        return zipWriteInFileInZip(zip_, bytes, count) == ZIP_OK;
    }
    bool end(bool ok) override { return zipCloseFileInZip(zip_) == ZIP_OK && ok; }

private:
    zipFile zip_;
    const std::string& name_;
};

// Deflates the copied bytes as minizip would (raw deflate, its level and memory setting),
// then lets them go.
bool DeflateInMemory(PackEntry& entry) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    const uLong length = static_cast<uLong>(entry.bytes.size());
    bool ok = true;
    try {
        entry.deflated.resize(deflateBound(&stream, length));
        stream.next_in = entry.bytes.data();
        stream.avail_in = static_cast<uInt>(length);
        stream.next_out = entry.deflated.data();
        stream.avail_out = static_cast<uInt>(entry.deflated.size());
        ok = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (ok) {
        entry.deflated.resize(stream.total_out);
        entry.crc = crc32(crc32(0L, Z_NULL, 0), entry.bytes.data(), static_cast<uInt>(length));
        entry.length = length;
        // minizip marks an entry as text when deflate found it to be text.
        entry.info.internal_fa = stream.data_type == Z_TEXT ? Z_TEXT : 0;
    }
    deflateEnd(&stream);
    std::vector<unsigned char>().swap(entry.bytes);
    return ok;
}

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
};

// Copies one file the way CopyFolderTree does (source flags cleared first, times kept),
// handing every block to `sink` as well. The entry's time is the source's last-write time,
// its attributes those of the new staging file.
bool CopyAndFeed(const PackEntry& entry, std::vector<unsigned char>& buffer,
                 const std::atomic<bool>& stop, const std::atomic<bool>& abandoned,
                 ByteSink& sink) {
    SetFileAttributesA(entry.source.c_str(), FILE_ATTRIBUTE_NORMAL);
    Handle in;
    in.value = CreateFileA(entry.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    BY_HANDLE_FILE_INFORMATION sourceInfo;
    if (in.value == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(in.value, &sourceInfo))
        return false;
    Handle out;
    out.value = CreateFileA(entry.staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    BY_HANDLE_FILE_INFORMATION stagedInfo;
    if (out.value == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(out.value, &stagedInfo))
        return false;
    zip_fileinfo info;
    FillZipEntryInfo(sourceInfo.ftLastWriteTime, stagedInfo.dwFileAttributes, false, info);
    if (!sink.begin(info))
        return false;

    bool ok = true;
    for (;;) {
        if (stop.load() || abandoned.load()) {
            ok = false;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(in.value, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(out.value, buffer.data(), got, &written, nullptr) || written != got ||
            !sink.take(buffer.data(), got)) {
            ok = false;
            break;
        }
    }
    ok = sink.end(ok);
    return ok && SetFileTime(out.value, &sourceInfo.ftCreationTime, &sourceInfo.ftLastAccessTime,
                             &sourceInfo.ftLastWriteTime);
}

class StagedPacker {
public:
    StagedPacker(std::vector<PackEntry>& entries, const std::atomic<bool>& stop)
        : entries_(entries), stop_(stop) {}
    StagedPacker(const StagedPacker&) = delete;
    StagedPacker& operator=(const StagedPacker&) = delete;
    ~StagedPacker() { endHelpers(); }

    bool write(zipFile zip, const std::function<void(int)>& afterEntry) {
        startHelpers();
        std::vector<unsigned char> buffer(kBlockSize);
        bool ok = true;
        int written = 0;
        for (std::size_t i = 0; ok && i < entries_.size(); ++i) {
            if (halted()) {
                ok = false;
                break;
            }
            PackEntry& entry = entries_[i];
            if (entry.isFolder) {
                ok = entry.name.empty() || writeFolder(zip, entry);
            } else if (!entry.inMemory || helpers_.empty()) {
                CopyOnlySink copyOnly;
                ArchiveSink archive(zip, entry.name);
                ByteSink& sink = entry.name.empty() ? static_cast<ByteSink&>(copyOnly) : archive;
                ok = IsSafeName(entry) && CopyAndFeed(entry, buffer, stop_, abandoned_, sink);
            } else {
                // An entry that is not ready may still be in a deflater's hands: it is left
                // alone, and freed with the others once every helper has ended.
                ok = waitUntilReady(entry);
                if (ok) {
                    ok = entry.name.empty() || writeDeflated(zip, entry);
                    release(entry);
                }
            }
            if (ok && !entry.name.empty() && afterEntry)
                afterEntry(++written);
        }
        if (!ok)
            abandon();
        endHelpers();
        return ok;
    }

private:
    bool halted() const { return stop_.load() || abandoned_.load(); }

    void abandon() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            abandoned_ = true;
        }
        changed_.notify_all();
    }

    static bool IsSafeName(const PackEntry& entry) {
        return entry.name.empty() || IsSafeEntryName(entry.name);
    }

    bool writeFolder(zipFile zip, const PackEntry& entry) {
        if (!IsSafeName(entry))
            return false;
        zip_fileinfo info;
        FillZipEntryInfo(entry.staging.c_str(), true, info);
        return zipOpenNewFileInZip(zip, (entry.name + "\\").c_str(), &info, nullptr, 0, nullptr, 0,
                                   nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION) == ZIP_OK &&
               zipCloseFileInZip(zip) == ZIP_OK;
    }

    bool writeDeflated(zipFile zip, const PackEntry& entry) {
        if (!IsSafeName(entry))
            return false;
        if (zipOpenNewFileInZip2(zip, entry.name.c_str(), &entry.info, nullptr, 0, nullptr, 0,
                                 nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1) != ZIP_OK)
            return false;
        bool ok = true;
        for (std::size_t at = 0; ok && at < entry.deflated.size(); at += kArchiveWriteBlock) {
            const std::size_t count = std::min(kArchiveWriteBlock, entry.deflated.size() - at);
            ok = !halted() && zipWriteInFileInZip(zip, entry.deflated.data() + at,
                                                  static_cast<unsigned>(count)) == ZIP_OK;
        }
        return zipCloseFileInZipRaw(zip, entry.length, entry.crc) == ZIP_OK && ok;
    }

    bool waitUntilReady(const PackEntry& entry) {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] {
            return entry.state == EntryState::kReady || entry.state == EntryState::kFailed ||
                   abandoned_.load();
        });
        return entry.state == EntryState::kReady;
    }

    static uint64_t Weight(const PackEntry& entry) { return 2 * entry.size; }

    void release(PackEntry& entry) {
        std::vector<unsigned char> freed;
        {
            std::lock_guard<std::mutex> hold(lock_);
            freed.swap(entry.deflated);
            inFlight_ -= Weight(entry);
        }
        changed_.notify_all();
    }

    // One copier and the deflaters. When not all of them can start, those that did are ended
    // and the writer copies every file itself.
    void startHelpers() {
        const unsigned cores = std::max(std::thread::hardware_concurrency(), 2u);
        const unsigned deflaters = std::min(cores, kMostDeflaters);
        try {
            helpers_.emplace_back([this] { runCopier(); });
            for (unsigned i = 0; i < deflaters; ++i)
                helpers_.emplace_back([this, i] { runDeflater(i); });
        } catch (const std::exception&) {
            abandon();
            endHelpers();
            abandoned_ = false;
            finished_ = false;
            inFlight_ = 0;
            copiedBytes_ = 0;
            copyCursor_ = 0;
            for (PackEntry& entry : entries_) {
                entry.state = EntryState::kWaiting;
                std::vector<unsigned char>().swap(entry.bytes);
                std::vector<unsigned char>().swap(entry.deflated);
            }
        }
    }

    void endHelpers() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            finished_ = true;
        }
        changed_.notify_all();
        for (std::thread& helper : helpers_)
            helper.join();
        helpers_.clear();
    }

    void settle(PackEntry& entry, bool ok, EntryState next) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            entry.state = ok ? next : EntryState::kFailed;
            if (entry.state == EntryState::kCopied)
                copiedBytes_ += entry.size;
            if (!ok)
                abandoned_ = true;
        }
        changed_.notify_all();
    }

    // The next small file to copy, in order, once the bytes held leave room for it; false
    // when there is none left or the work ended.
    bool claimCopy(std::size_t& index) {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            if (finished_ || abandoned_.load())
                return false;
            // Look again after every wait: the work may have ended or the budget changed.
            while (copyCursor_ < entries_.size() &&
                   (entries_[copyCursor_].isFolder || !entries_[copyCursor_].inMemory))
                ++copyCursor_;
            if (copyCursor_ == entries_.size())
                return false;
            const uint64_t weight = Weight(entries_[copyCursor_]);
            if (inFlight_ == 0 || inFlight_ + weight <= kInFlightBudget) {
                inFlight_ += weight;
                index = copyCursor_++;
                return true;
            }
            changed_.wait(hold);
        }
    }

    // The copier: small files in order, as many as the budget allows. One is enough: the
    // file calls of a second one would queue at the same wineserver.
    void runCopier() {
        try {
            std::vector<unsigned char> buffer(kBlockSize);
            std::size_t index = 0;
            while (claimCopy(index)) {
                PackEntry& entry = entries_[index];
                if (entry.name.empty()) {
                    CopyOnlySink sink;
                    settle(entry, CopyAndFeed(entry, buffer, stop_, abandoned_, sink),
                           EntryState::kReady);
                } else {
                    MemorySink sink(entry);
                    settle(entry, CopyAndFeed(entry, buffer, stop_, abandoned_, sink),
                           EntryState::kCopied);
                }
            }
        } catch (const std::bad_alloc&) {
            abandon();
        }
    }

    // A deflater: the next copied file in order, as long as there is work. Deflater `rank`
    // above 0 takes one only while the copier is that far ahead.
    void runDeflater(unsigned rank) {
        // Deflating can wait; the copier's file calls and the user interface should not.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
        std::size_t next = 0;
        for (;;) {
            PackEntry* entry = nullptr;
            {
                std::unique_lock<std::mutex> hold(lock_);
                for (;;) {
                    if (finished_ || abandoned_.load())
                        return;
                    while (next < entries_.size() &&
                           (!entries_[next].inMemory ||
                            (entries_[next].state != EntryState::kWaiting &&
                             entries_[next].state != EntryState::kCopied)))
                        ++next;
                    if (next == entries_.size())
                        return;
                    if (entries_[next].state == EntryState::kCopied &&
                        copiedBytes_ >= rank * kBacklogPerExtraDeflater)
                        break;
                    changed_.wait(hold);
                }
                entry = &entries_[next];
                entry->state = EntryState::kDeflating;
                copiedBytes_ -= entry->size;
            }
            settle(*entry, !halted() && DeflateInMemory(*entry), EntryState::kReady);
        }
    }

    std::vector<PackEntry>& entries_;
    const std::atomic<bool>& stop_;
    std::atomic<bool> abandoned_{false};
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::thread> helpers_;  // none: the writer copies every file itself
    std::size_t copyCursor_ = 0;        // where copiers look for the next file to copy
    uint64_t inFlight_ = 0;
    uint64_t copiedBytes_ = 0;  // of the files copied and not yet taken by a deflater
    bool finished_ = false;
};

}  // namespace

bool PackThroughStaging(const std::string& sourceFolder, const std::string& stagingFolder,
                        const std::string& archivePath, const std::atomic<bool>& stop,
                        const std::function<void(int)>& afterEntry) {
    const std::string source(WithoutOneTrailingBackslash(sourceFolder));
    const std::string staging(WithoutOneTrailingBackslash(stagingFolder));
    if (!FileExists(source.c_str()) || staging.empty())
        return false;
    if (!IsFolder(staging.c_str()) && !CreateFolderTree(staging.c_str()))
        return false;

    // The folder's own entry is named as the zipper names it: relative to its parent.
    const std::string base = TrimBaseFolder(MakeZipTarget(staging).baseFolder);
    std::string topName;
    if (!RelativeEntryName(staging, base, topName))
        return false;
    topName = std::string(TrimEntryFront(topName));

    try {
        std::vector<PackEntry> entries;
        PackEntry top;
        top.source = source;
        top.staging = staging;
        top.name = topName;
        top.isFolder = true;
        entries.push_back(std::move(top));
        if (!ListTree(source, staging, topName, stop, entries))
            return false;

        const zipFile zip = zipOpen(archivePath.c_str(), APPEND_STATUS_CREATE);
        if (zip == nullptr)
            return false;
        bool ok = false;
        try {
            StagedPacker packer(entries, stop);
            ok = packer.write(zip, afterEntry);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        ok = zipClose(zip, nullptr) == ZIP_OK && ok;
        return ok && !stop.load();
    } catch (const std::bad_alloc&) {
        return false;
    }
}
