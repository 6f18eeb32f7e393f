// PostWhenMovieReady: one worker thread per request that waits until the movie has
// called Init (polling the ready flag every second, giving up after 120 polls) and then
// posts the matching message to the main window. Update checks are posted at once. The
// workers end early when the store closes; nothing is posted after Stop.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct MovieRequestTimings {
    DWORD pollMs = 1000;
    int maxPolls = 120;
};

class MovieReadyRequests {
public:
    MovieReadyRequests(std::atomic<bool>& movieReady,
                       MovieRequestTimings timings = MovieRequestTimings());
    ~MovieReadyRequests();
    MovieReadyRequests(const MovieReadyRequests&) = delete;
    MovieReadyRequests& operator=(const MovieReadyRequests&) = delete;

    // The window the messages go to; set before the first Post.
    void SetTarget(HWND window) { m_target = window; }

    // Starts the worker for one request of the given kind (MovieRequestKind). False when
    // the store is closing or no thread could be started; the request is dropped.
    bool Post(int kind, std::string text);

    // Wakes every waiting worker, makes it drop its request and waits for all of them.
    void Stop();

private:
    struct Request;
    static DWORD WINAPI Run(void* parameter);
    void Deliver(const Request& request);
    void CloseFinished();

    std::atomic<bool>& m_movieReady;
    MovieRequestTimings m_timings;
    HWND m_target = nullptr;
    HANDLE m_stopEvent;
    std::mutex m_lock;
    std::vector<HANDLE> m_threads;
    bool m_stopped = false;
};

// TakePostedText that logs the numbers the store did not issue: the message did not come
// from this store.
bool TakeMessageText(UINT message, WPARAM wParam, std::string& text);
