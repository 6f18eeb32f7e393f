// One store upload from start to end, for the transfer manager's upload worker: the fixed
// headers and form fields, the post in 1024-byte chunks, progress before every chunk and a
// stop between chunks. Windows only (WinInet).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct UploadRequest {
    std::string url;        // the upload script, e.g. "http://host/Upload/uploadtest.asp"
    std::string localPath;  // the file (or package) sent as "stgFiletoUpload1"
    std::string guid;       // the form field "guid"
};

// Called before every chunk with the form-data bytes posted so far and in all (field
// values and file contents, without the multipart framing).
using UploadProgress = std::function<void(uint32_t posted, uint32_t total)>;

// Lets another thread break off a running upload at once: RunUpload hands its client's
// interrupt here while it runs. Interrupt closes that client's handles, so that a WinInet
// call blocked on a server that stopped reading or answering returns; an upload that has
// not begun yet never starts.
class UploadInterrupter {
public:
    void Interrupt();

private:
    friend class UploadInterrupterScope;
    std::mutex m_lock;
    std::function<void()> m_interrupt;
    bool m_interrupted = false;
};

// Posts the file and returns the transfer status: 0 when the post went through (whatever
// the server answered; a missing file goes out as an empty part), else 2000 + the client's
// error code. `stop` is read before every chunk: once set, the post is cancelled and the
// result is 2000. With `interrupter`, another thread can also end calls that block. The caller sets
// the record's status to 0 before calling.
int RunUpload(const UploadRequest& request, const std::atomic<bool>& stop,
              const UploadProgress& progress, UploadInterrupter* interrupter = nullptr);

// The transfer status of an upload client error code.
constexpr int kUploadStatusBase = 2000;
