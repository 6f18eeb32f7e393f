// The camera shelf: a small second window of the store whose own Flash movie
// ("CameraShelf.swf") shows rendered pictures of the host scene's cameras, asks the host
// for a picture of the current camera and hands a chosen picture back to the host. The
// host opens a shelf over the host link; the movie reaches the store through the shared
// script-command dispatcher (camera_shelf_commands.h).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "hostlink/store_link_window.h"
#include "store/shell/shockwave_flash.h"

class ITransferStatusSource;
struct MovieProblem;

// What a shelf needs from the store's main window.
class ICameraShelfHost {
public:
    virtual ~ICameraShelfHost() = default;
    // The user cache folder, without a trailing backslash.
    virtual std::string TransferDirectory() const = 0;
    // The store's own folder, with a trailing backslash.
    virtual std::string InstallFolder() const = 0;
    virtual int HostId() const = 0;
    // The store's end of the host link; may be null (then nothing reaches a host).
    virtual CPXHidMessageWin* LinkWindow() = 0;
    // Answers the movie's GetTransStatus polls; may be null.
    virtual ITransferStatusSource* TransferStatus() = 0;
    // Gives a message of the main window's the treatment the main window's own loop gives
    // it (its key rules, then the dialog manager); true when it is done with. Used while a
    // shelf waits for the host inside a message loop of its own.
    virtual bool PreTranslateMainWindowMessage(MSG& msg) {
        (void)msg;
        return false;
    }
};

// The transfer directory's "Uploaded" folder, which holds Shade and Wireframe.
std::string CameraShelfFolder(const std::string& transferDirectory);

// The part of a selection after its last backslash (all of it when it has none).
std::string ShelfPictureName(const std::string& selection);

// One shelf window. Everything runs on the user-interface thread.
class CCameraShelf {
public:
    explicit CCameraShelf(ICameraShelfHost& host);
    ~CCameraShelf();
    CCameraShelf(const CCameraShelf&) = delete;
    CCameraShelf& operator=(const CCameraShelf&) = delete;

    // Creates the window from template 131 with the desktop as parent, places it topmost
    // at 0, 0, hosts the Flash control in it and loads the shelf movie. With a null
    // `controlFactory` the registered control is used. False when the window could not be
    // made; a missing control or movie file only leaves the window without a movie, saying
    // why in its client area (ControlFailure has the control's reason).
    bool Create(IClassFactory* controlFactory);
    // Destroys the control and the window; safe to call again.
    void Destroy();
    void Hide();

    HWND Window() const { return m_window; }
    CShockwaveflash1& Flash() { return m_flash; }
    const std::string& ControlFailure() const { return m_controlFailure; }

    // The picture list (camera_thumbnails.h) kept by this shelf.
    int LoadThumbnails(const std::string& folder);
    std::string ThumbnailList() const;

    // Finds the host's window and sends it WM_PX_QUERY_HOST, waiting for the send at most
    // `timeoutMs`. 1 when the host was found and took the message, else 0.
    int RequestCameraImage(int hostId, DWORD timeoutMs);
    // The host's answer: the new picture's file name.
    void OnCameraImage(const std::string& name);
    // Sends PXCD_IMAGE_SELECTED with `name` from a worker of the link window, with this
    // window as sender. Nothing is sent without a link window or a host window.
    void SendImageSelected(const std::string& name);

    // Set before each request, so that an answer to an earlier, abandoned request does not
    // count; cleared by OnCameraImage.
    void ExpectCameraImage() { m_bAwaitingImage = 1; }
    bool IsAwaitingImage() const { return m_bAwaitingImage != 0; }
    const std::string& NewImage() const { return m_strNewImage; }

    // True when `window` is this shelf or one of its child windows.
    bool Owns(HWND window) const;
    // Escape is swallowed, Enter goes straight to the focused control, the rest gets the
    // dialog's keyboard handling. True when the message was handled (dispatched or
    // dropped) and the caller's loop must not dispatch it again.
    bool PreTranslate(MSG* msg);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    // Shows in the window why it has no movie.
    void ExplainMissingMovie(const MovieProblem& problem);

    ICameraShelfHost& m_host;
    HWND m_window = nullptr;
    IClassFactory* m_controlFactory = nullptr;
    std::string m_controlFailure;

    int m_nWidth = 632;
    int m_nHeight = 322;
    CShockwaveflash1 m_flash;
    std::vector<std::string> m_thumbnails;
    int m_bAwaitingImage = 1;
    std::string m_strNewImage;
};

// Every shelf the store has opened, and the current one, which the commands address.
// Shelves opened earlier stay open until the store closes.
class CameraShelves {
public:
    // `replyTimeoutMs` bounds CameraShelfAddCamera's wait for the host's answer.
    explicit CameraShelves(ICameraShelfHost& host, DWORD replyTimeoutMs = kHostQueryTimeoutMs);
    ~CameraShelves();
    CameraShelves(const CameraShelves&) = delete;
    CameraShelves& operator=(const CameraShelves&) = delete;

    // For hosts (tests) that load the control's module themselves instead of relying on
    // its registration; null (the default) uses the registered control.
    void SetControlFactory(IClassFactory* factory) { m_controlFactory = factory; }

    // WM_PX_SHOW_CAMERA_SHELF: a new shelf, which becomes the current one.
    void Open();
    // PXCD_HOST_REPLY: goes to the shelf that waits for a picture, else to the current one.
    void OnCameraImage(const std::string& name);
    // For the store's message loop: true when the message was handled by a shelf.
    bool PreTranslate(MSG* msg);
    // Destroys every shelf window and control. Called while CameraShelfAddCamera waits
    // (from a message handled during the wait), it ends the wait and hides the shelves;
    // they are destroyed by the next CloseAll or by the destructor.
    void CloseAll();
    CCameraShelf* Current() { return m_current; }

    // The three script commands. Without a shelf: empty text, empty text, 0.
    std::string Init();
    std::string AddCamera();
    int ImageSelect(const std::string& selection);

private:
    bool WaitForCameraImage(const CCameraShelf& shelf, DWORD start);

    ICameraShelfHost& m_host;
    DWORD m_replyTimeoutMs;
    IClassFactory* m_controlFactory = nullptr;
    std::vector<std::unique_ptr<CCameraShelf>> m_shelves;
    CCameraShelf* m_current = nullptr;
    // The shelf whose CameraShelfAddCamera is waiting; also guards against a second one.
    CCameraShelf* m_waitingShelf = nullptr;
    bool m_closePending = false;
};
