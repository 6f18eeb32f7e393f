#include "store/shell/movie_ready_requests.h"

#include <memory>
#include <utility>

#include "hostlink/posted_texts.h"
#include "store/shell/activity_log.h"
#include "store/shell/store_messages.h"

struct MovieReadyRequests::Request {
    MovieReadyRequests* owner;
    int kind;
    std::string text;
};

bool TakeMessageText(UINT message, WPARAM wParam, std::string& text) {
    if (TakePostedText(message, wParam, text)) {
        return true;
    }
    LogLine("Message 0x%X with an unknown text (%llu) ignored", message,
            static_cast<unsigned long long>(wParam));
    return false;
}

MovieReadyRequests::MovieReadyRequests(std::atomic<bool>& movieReady, MovieRequestTimings timings)
    : m_movieReady(movieReady),
      m_timings(timings),
      m_stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

MovieReadyRequests::~MovieReadyRequests() {
    Stop();
    if (m_stopEvent != nullptr) {
        CloseHandle(m_stopEvent);
    }
}

bool MovieReadyRequests::Post(int kind, std::string text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopped || m_stopEvent == nullptr) {
        return false;
    }
    CloseFinished();
    auto request = std::make_unique<Request>(Request{this, kind, std::move(text)});
    HANDLE thread = CreateThread(nullptr, 0, Run, request.get(), 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    request.release();
    m_threads.push_back(thread);
    return true;
}

void MovieReadyRequests::Stop() {
    std::vector<HANDLE> threads;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopped = true;
        threads.swap(m_threads);
    }
    if (m_stopEvent != nullptr) {
        SetEvent(m_stopEvent);
    }
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void MovieReadyRequests::CloseFinished() {
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (WaitForSingleObject(*it, 0) == WAIT_OBJECT_0) {
            CloseHandle(*it);
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

DWORD WINAPI MovieReadyRequests::Run(void* parameter) {
    std::unique_ptr<Request> request(static_cast<Request*>(parameter));
    MovieReadyRequests& self = *request->owner;
    if (request->kind != kUpdateCheckRequest) {
        int polls = 0;
        while (!self.m_movieReady.load()) {
            if (polls == self.m_timings.maxPolls) {
                return 0;  // the movie never became ready: the request is dropped
            }
            if (WaitForSingleObject(self.m_stopEvent, self.m_timings.pollMs) == WAIT_OBJECT_0) {
                return 0;
            }
            ++polls;
        }
    }
    if (WaitForSingleObject(self.m_stopEvent, 0) == WAIT_OBJECT_0) {
        return 0;
    }
    self.Deliver(*request);
    return 0;
}

void MovieReadyRequests::Deliver(const Request& request) {
    switch (request.kind) {
        case kShowStoreRequest:
            PostMessageA(m_target, WM_PX_PUSH_SHOW_STORE, 0, 0);
            break;
        case kShowFilesRequest:
            PostMessageA(m_target, WM_PX_PUSH_SHOW_FILES, 0, 0);
            break;
        case kSaveFileRequest:
            PostTextMessage(m_target, WM_PX_PUSH_SAVE_FILE, request.text);
            break;
        case kUpdateCheckRequest:
            PostTextMessage(m_target, WM_PX_RUN_UPDATE_CHECK, request.text);
            break;
        case kDroppedFilesRequest:
            PostTextMessage(m_target, WM_PX_PUSH_DROPPED_FILES, request.text);
            break;
        default:
            break;
    }
}
