// Camera shelf windows hosting the Flash control stand-in, opened over the store's link
// window and driven the way the shelf movie drives them: through the stand-in's driver
// link (FlashCall in, SetReturnValue out) and through the dispatcher. A host window of
// this process, on a thread of its own, plays the host: it answers the picture query at
// once, later, or never, and records the pictures the shelf hands back.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "hostlink/message_window.h"
#include "hostlink/store_link_window.h"
#include "store/files/camera_shelf.h"
#include "store/files/camera_shelf_commands.h"
#include "store/files/camera_shelf_ids.h"
#include "store/shell/missing_movie_notice_ids.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"
#include "temp_tree.h"
#include "tests/flash/movie_driver_link.h"

namespace {

constexpr DWORD kWaitMs = 10000;
constexpr int kHostId = 9;
// The shelves' bound for the host's answer; short, so that the silent host costs little.
constexpr DWORD kReplyBoundMs = 1500;

constexpr UINT kAnswerLaterMessage = WM_APP + 1;
constexpr UINT kStopMessage = WM_APP + 2;
constexpr UINT kPokeMessage = WM_APP + 3;
constexpr UINT kPokedMessage = WM_APP + 4;

// The store's loop: shelves first, then the usual translation and dispatch.
void PumpMessages(CameraShelves* shelves) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (shelves == nullptr || !shelves->PreTranslate(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

template <typename Done>
bool PumpUntil(CameraShelves* shelves, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > kWaitMs) {
            return false;
        }
        PumpMessages(shelves);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

std::string Invoke(const std::string& name, const std::string& argument) {
    return "<invoke name=\"" + name + "\" returntype=\"xml\"><arguments><string>" + argument +
           "</string></arguments></invoke>";
}

// The line the control sends when the store answers `name` with `value`.
std::string ReplyLine(const std::string& name, const std::string& value) {
    return "{\"event\":\"callFunction\",\"request\":\"" +
           JsonEscaped(BuildTextReturnValueCall(name, value)) + "\"}";
}

// Waits for a thread while letting through what it sends to this thread's windows.
bool WaitDeliveringSent(HANDLE handle) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kWaitMs) {
            return false;
        }
        const DWORD result =
            MsgWaitForMultipleObjects(1, &handle, FALSE, kWaitMs - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// The host's hidden window, titled for kHostId, on a thread of its own.
class FakeHost {
public:
    enum class Mode { kAnswerAtOnce, kAnswerLater, kSilent };
    struct Text {
        ULONG_PTR code;
        std::string text;
        HWND sender;
    };

    // In kAnswerLater mode the host returns from the query, posts kPokeMessage to
    // `pokeWindow` (a window of the store's thread) and answers only once Poked() was
    // called; meanwhile it keeps handling its messages.
    explicit FakeHost(HWND pokeWindow) : m_pokeWindow(pokeWindow) {
        m_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~FakeHost() {
        Stop();
        CloseHandle(m_ready);
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    bool Start() {
        m_thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
        return m_thread != nullptr && WaitForSingleObject(m_ready, kWaitMs) == WAIT_OBJECT_0 &&
               m_window != nullptr;
    }
    void Stop() {
        if (m_thread == nullptr) {
            return;
        }
        PostMessageA(m_window, kStopMessage, 0, 0);
        EXPECT_TRUE(WaitDeliveringSent(m_thread));
        CloseHandle(m_thread);
        m_thread = nullptr;
    }

    void Set(Mode mode, const std::string& answer) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_mode = mode;
        m_answer = answer;
    }
    void Poked() { PostMessageA(m_window, kPokedMessage, 0, 0); }
    int Queries() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_queries;
    }
    std::vector<Text> Texts() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_texts;
    }
    bool WaitForTexts(size_t count) {
        const DWORD start = GetTickCount();
        while (Texts().size() < count) {
            if (GetTickCount() - start > kWaitMs) {
                return false;
            }
            Sleep(10);
        }
        return true;
    }

private:
    static DWORD WINAPI ThreadMain(void* parameter) {
        auto* self = static_cast<FakeHost*>(parameter);
        self->m_window = CreateMessageOnlyWindow("PXTestShelfHost",
                                                 HostWindowTitle(kHostId).c_str(), Proc, self);
        SetEvent(self->m_ready);
        if (self->m_window == nullptr) {
            return 1;
        }
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        UnregisterMessageWindowClass("PXTestShelfHost");
        return 0;
    }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakeHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self == nullptr) {
            return DefWindowProcA(window, message, wParam, lParam);
        }
        switch (message) {
            case WM_PX_QUERY_HOST: {
                Mode mode;
                {
                    std::lock_guard<std::mutex> guard(self->m_lock);
                    ++self->m_queries;
                    mode = self->m_mode;
                }
                if (mode == Mode::kAnswerAtOnce) {
                    self->Answer();
                } else if (mode == Mode::kAnswerLater) {
                    PostMessageA(window, kAnswerLaterMessage, 0, 0);
                }
                return 0;
            }
            case kAnswerLaterMessage:
                PostMessageA(self->m_pokeWindow, kPokeMessage, 0, 0);
                return 0;
            case kPokedMessage:
                self->Answer();
                return 0;
            case WM_COPYDATA: {
                const ReceivedText received = ReadCopyData(lParam);
                std::lock_guard<std::mutex> guard(self->m_lock);
                self->m_texts.push_back(
                    {received.code, received.text, reinterpret_cast<HWND>(wParam)});
                return TRUE;
            }
            case kStopMessage:
                DestroyWindow(window);
                PostQuitMessage(0);
                return 0;
            default:
                return DefWindowProcA(window, message, wParam, lParam);
        }
    }

    void Answer() {
        TextSendRequest request;
        request.peerTitle = StoreWindowTitle();
        request.code = PXCD_HOST_REPLY;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            request.text = m_answer;
        }
        request.senderWindow = m_window;
        SendTextToPeer(request);
    }

    HWND m_pokeWindow;
    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
    std::mutex m_lock;
    Mode m_mode = Mode::kSilent;
    std::string m_answer;
    int m_queries = 0;
    std::vector<Text> m_texts;
};

// The main window's part: the link window's messages reach the shelves.
class StoreActions : public IStoreLinkActions {
public:
    CameraShelves* shelves = nullptr;

    void BringToFront() override {}
    void Restack() override {}
    void ShowStore() override {}
    void ShowMyFiles() override {}
    void SaveFile(const std::string&) override {}
    bool IsUpdateBusy() override { return false; }
    void CheckForUpdate(bool) override {}
    void ShowCameraShelf() override { shelves->Open(); }
    void HostIdentity(int, int) override {}
    void HostReply(const std::string& fileName) override { shelves->OnCameraImage(fileName); }
    void PluginBuild(int, int, int) override {}
    void QuitStore() override {}
};

class ShelfHost : public ICameraShelfHost {
public:
    std::string transferDirectory;
    std::string installFolder;
    CPXHidMessageWin* link = nullptr;

    std::string TransferDirectory() const override { return transferDirectory; }
    std::string InstallFolder() const override { return installFolder; }
    int HostId() const override { return kHostId; }
    CPXHidMessageWin* LinkWindow() override { return link; }
    ITransferStatusSource* TransferStatus() override { return nullptr; }
};

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

// A control that is registered but cannot be made: its factory fails every creation.
class FailingFactory : public IClassFactory {
public:
    explicit FailingFactory(HRESULT failure) : m_failure(failure) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)
                   ? static_cast<IClassFactory*>(this)
                   : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    // Lives on the test's stack.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return m_failure;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    HRESULT m_failure;
};

struct DispatchResult {
    ScriptResult::Kind kind;
    std::string text;
    int32_t number;
};

DispatchResult Dispatch(const std::string& name, const std::string& arguments = std::string()) {
    ScriptResult result;
    TheScriptCommands().Dispatch(name, arguments, result);
    return {result.GetKind(), result.Text(), result.Signed()};
}

class CameraShelfTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dll(path);
        dll = dll.substr(0, dll.find_last_of('\\') + 1) + "flash_standin.dll";
        const HMODULE module = LoadLibraryA(dll.c_str());
        ASSERT_NE(module, nullptr) << dll;
        auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_EQ(getClassObject(kShockwaveFlashClassId, IID_IClassFactory,
                                 reinterpret_cast<void**>(&m_factory)),
                  S_OK);
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", m_driver.Address().c_str());

        m_link = std::make_unique<CPXHidMessageWin>(&m_actions);
        ASSERT_TRUE(m_link->Create());
        m_host.transferDirectory = m_tree.Root();
        m_tree.Write("PXStore\\CameraShelf.swf", "movie placeholder");
        m_host.installFolder = m_tree.Path("PXStore") + "\\";
        m_host.link = m_link.get();
        m_shelves = std::make_unique<CameraShelves>(m_host, kReplyBoundMs);
        m_shelves->SetControlFactory(m_factory);
        m_actions.shelves = m_shelves.get();
        RegisterCameraShelfCommands(TheScriptCommands(), *m_shelves);

        m_poke = CreateMessageOnlyWindow("PXTestShelfPoke", "", PokeProc, this);
        ASSERT_NE(m_poke, nullptr);
        m_hostWindow = std::make_unique<FakeHost>(m_poke);
    }

    void TearDown() override {
        TheScriptCommands().ClearHandlers();
        m_hostWindow.reset();
        if (m_poke != nullptr) {
            DestroyWindow(m_poke);
            UnregisterMessageWindowClass("PXTestShelfPoke");
        }
        if (m_shelves != nullptr) {
            m_shelves->CloseAll();
            m_shelves.reset();
        }
        m_link.reset();
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", nullptr);
        if (m_factory != nullptr) {
            m_factory->Release();
        }
        OleUninitialize();
    }

    // Opens a shelf the way a host does and waits until it is the current one.
    CCameraShelf* OpenShelf() {
        CCameraShelf* before = m_shelves->Current();
        PostMessageA(m_link->Window(), WM_PX_SHOW_CAMERA_SHELF, 0, 0);
        EXPECT_TRUE(PumpUntil(m_shelves.get(), [&] { return m_shelves->Current() != before; }));
        return m_shelves->Current();
    }

    // Opens the first shelf and takes its control's driver connection.
    CCameraShelf* OpenDrivenShelf() {
        CCameraShelf* shelf = OpenShelf();
        EXPECT_TRUE(m_driver.Accept());
        std::string path;
        for (char c : m_host.installFolder + "CameraShelf.swf") {
            path += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        EXPECT_EQ(m_driver.ReadLine(),
                  "{\"event\":\"loadMovie\",\"layer\":0,\"path\":\"" + path + "\"}");
        return shelf;
    }

    // The movie calls `name` and gets the reply; returns the replied value line.
    std::string MovieCall(const std::string& name, const std::string& argument = "") {
        m_driver.Call(Invoke(name, argument));
        const std::string reply = m_driver.ReadLine();
        EXPECT_EQ(m_driver.ReadLine(), "{\"event\":\"returned\"}");
        return reply;
    }

    std::string ShelfFolder() const { return m_tree.Root() + "\\Uploaded"; }

    static LRESULT CALLBACK PokeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CameraShelfTest*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && message == kPokeMessage) {
            // Handled while the shelf waits for the host: the store is still responsive,
            // and a second request meanwhile is not sent and gets no picture (were it
            // sent, this silent host would hold it to the bound).
            self->m_hostWindow->Set(FakeHost::Mode::kSilent, "cam8.png");
            self->m_pokeResults.push_back(Dispatch("CameraShelfAddCamera"));
            self->m_hostWindow->Poked();
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    TempTree m_tree;
    // Waiting for the movie driver pumps as the store does, shelves first.
    MovieDriverLink m_driver{[this] { PumpMessages(m_shelves.get()); }};
    IClassFactory* m_factory = nullptr;
    StoreActions m_actions;
    ShelfHost m_host;
    std::unique_ptr<CPXHidMessageWin> m_link;
    std::unique_ptr<CameraShelves> m_shelves;
    HWND m_poke = nullptr;
    std::unique_ptr<FakeHost> m_hostWindow;
    std::vector<DispatchResult> m_pokeResults;
};

TEST_F(CameraShelfTest, WithoutAShelfTheCommandsAnswerEmptyTextAndZero) {
    ASSERT_TRUE(m_hostWindow->Start());
    m_hostWindow->Set(FakeHost::Mode::kAnswerAtOnce, "cam1.jpg");
    for (const char* name : {"CameraShelfInit", "CameraShelfAddCamera"}) {
        const DispatchResult result = Dispatch(name);
        EXPECT_EQ(result.kind, ScriptResult::Kind::kText) << name;
        EXPECT_EQ(result.text, "") << name;
    }
    const DispatchResult select = Dispatch("CameraShelfImageSelect", "C:\\a\\cam3.jpg");
    EXPECT_EQ(select.kind, ScriptResult::Kind::kSigned);
    EXPECT_EQ(select.number, 0);
    m_link->WaitForWorkers();
    EXPECT_EQ(m_hostWindow->Queries(), 0);
    EXPECT_TRUE(m_hostWindow->Texts().empty());
}

TEST_F(CameraShelfTest, OpensATopmostShelfAtTheOriginWithItsControlAndMovie) {
    CCameraShelf* first = OpenDrivenShelf();
    ASSERT_NE(first, nullptr);
    const HWND window = first->Window();
    ASSERT_NE(window, nullptr);
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof(caption));
    EXPECT_STREQ(caption, "CameraShelf");
    EXPECT_TRUE(IsWindowVisible(window));
    // At the top of the ordinary windows, like the main window, but not above every other
    // program (3ds Max included) for good.
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    for (HWND above = GetWindow(window, GW_HWNDPREV); above != nullptr;
         above = GetWindow(above, GW_HWNDPREV)) {
        EXPECT_NE(GetWindowLongPtrA(above, GWL_EXSTYLE) & WS_EX_TOPMOST, 0)
            << "an ordinary window above the shelf";
    }
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.right - frame.left, 632);
    EXPECT_EQ(frame.bottom - frame.top, 322);

    // The control took the placeholder's id and place: 1, 1, (632 - 1) x (322 - 1).
    const HWND control = first->Flash().GetControlWindow();
    ASSERT_NE(control, nullptr) << first->ControlFailure();
    EXPECT_EQ(GetDlgItem(window, IDC_CAMERASHELF_FLASH), control);
    EXPECT_TRUE(IsWindowVisible(control));
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, 1);
    EXPECT_EQ(place.top, 1);
    EXPECT_EQ(place.right - place.left, 631);
    EXPECT_EQ(place.bottom - place.top, 321);

    // A second request opens a fresh shelf; the first stays open but is no longer current.
    CCameraShelf* second = OpenShelf();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_NE(second->Window(), window);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindowVisible(second->Window()));
}

TEST_F(CameraShelfTest, WithoutItsMovieOrControlTheShelfSaysWhyInItsOwnFont) {
    FailingFactory failing(E_OUTOFMEMORY);
    struct Case {
        const char* label;
        IClassFactory* factory;  // null: the stand-in's
        bool movieThere;
        std::vector<std::string> missing;  // lines of what the text names as missing
    };
    const std::string movieLine =
        "The movie file " + m_host.installFolder + "CameraShelf.swf is missing.";
    const std::string controlLine =
        "The Shockwave Flash ActiveX control (class {D27CDB6E-AE6D-11CF-96B8-444553540000}) is "
        "installed but could not be started (error 0x8007000E).";
    const Case cases[] = {
        {"no movie file", nullptr, false, {movieLine}},
        {"control not created", &failing, true, {controlLine}},
        {"neither", &failing, false, {controlLine, movieLine}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (!c.movieThere) {
            ASSERT_TRUE(DeleteFileA((m_host.installFolder + "CameraShelf.swf").c_str()));
        }
        m_shelves->SetControlFactory(c.factory != nullptr ? c.factory : m_factory);
        CCameraShelf* shelf = OpenShelf();
        ASSERT_NE(shelf, nullptr);
        const HWND window = shelf->Window();
        // No control is left to cover the explanation; the window keeps its size and title.
        EXPECT_EQ(GetDlgItem(window, IDC_CAMERASHELF_FLASH), nullptr);
        EXPECT_FALSE(shelf->Flash().IsCreated());
        char caption[64] = {};
        GetWindowTextA(window, caption, sizeof(caption));
        EXPECT_STREQ(caption, "CameraShelf");
        RECT frame{};
        GetWindowRect(window, &frame);
        EXPECT_EQ(frame.right - frame.left, 632);
        EXPECT_EQ(frame.bottom - frame.top, 322);

        const HWND notice = GetDlgItem(window, IDC_MOVIE_NOTICE);
        ASSERT_NE(notice, nullptr);
        char className[16] = {};
        GetClassNameA(notice, className, sizeof(className));
        EXPECT_STREQ(className, "Static");
        EXPECT_TRUE(IsWindowVisible(notice));
        EXPECT_EQ(SendMessageA(notice, WM_GETFONT, 0, 0), SendMessageA(window, WM_GETFONT, 0, 0));
        char text[2048] = {};
        SendMessageA(notice, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
        std::string expected;
        for (const std::string& line : c.missing) {
            expected += line + "\r\n";
        }
        expected += "This window therefore cannot show its movie.\r\n\r\n";
        EXPECT_EQ(std::string(text).rfind(expected, 0), 0u) << text;
        EXPECT_NE(std::string(text).find("its main window stays open"), std::string::npos) << text;
        // This process has no activity log, so there is no log to point at.
        EXPECT_EQ(std::string(text).find("activity log"), std::string::npos) << text;
        m_tree.Write("PXStore\\CameraShelf.swf", "movie placeholder");
    }
}

TEST_F(CameraShelfTest, InitGivesTheFolderAndListAndKeepsTheListWhenPicturesGo) {
    m_tree.Write("Uploaded\\Shade\\cam1.jpg", "1");
    m_tree.Write("Uploaded\\Shade\\cam2.png", "2");
    m_tree.Write("Uploaded\\Wireframe\\cam1.jpg", "w");
    OpenDrivenShelf();
    const std::string expected = ShelfFolder() + "|\\cam1.jpg:\\cam1.jpg|\\cam2.png:|";
    EXPECT_EQ(MovieCall("CameraShelfInit"), ReplyLine("CameraShelfInit", expected));

    DeleteFileA(m_tree.Path("Uploaded\\Shade\\cam1.jpg").c_str());
    DeleteFileA(m_tree.Path("Uploaded\\Shade\\cam2.png").c_str());
    EXPECT_EQ(MovieCall("CameraShelfInit"), ReplyLine("CameraShelfInit", expected));

    // A fresh shelf has no earlier list to keep.
    OpenShelf();
    EXPECT_EQ(Dispatch("CameraShelfInit").text, ShelfFolder() + "|");
}

TEST_F(CameraShelfTest, AddCameraHandsTheMovieThePictureTheHostAnnounces) {
    ASSERT_TRUE(m_hostWindow->Start());
    OpenDrivenShelf();

    // Answered from inside the host's handler of the query.
    m_hostWindow->Set(FakeHost::Mode::kAnswerAtOnce, "cam7.jpg");
    EXPECT_EQ(MovieCall("CameraShelfAddCamera"),
              ReplyLine("CameraShelfAddCamera", ShelfFolder() + "\\shade\\cam7.jpg"));
    EXPECT_EQ(m_hostWindow->Queries(), 1);

    // Answered after the handler returned, once the store has handled a posted message.
    m_hostWindow->Set(FakeHost::Mode::kAnswerLater, "cam8.png");
    EXPECT_EQ(MovieCall("CameraShelfAddCamera"),
              ReplyLine("CameraShelfAddCamera", ShelfFolder() + "\\shade\\cam8.png"));
    EXPECT_EQ(m_hostWindow->Queries(), 2);
    ASSERT_EQ(m_pokeResults.size(), 1u);
    EXPECT_EQ(m_pokeResults[0].kind, ScriptResult::Kind::kText);
    EXPECT_EQ(m_pokeResults[0].text, "");
}

TEST_F(CameraShelfTest, AddCameraWithoutAnAnswerEndsWithEmptyText) {
    OpenShelf();

    // No host window: nothing to ask, nothing to wait for.
    EXPECT_EQ(Dispatch("CameraShelfAddCamera").text, "");

    ASSERT_TRUE(m_hostWindow->Start());
    m_hostWindow->Set(FakeHost::Mode::kAnswerAtOnce, "cam1.jpg");
    EXPECT_EQ(Dispatch("CameraShelfAddCamera").text, ShelfFolder() + "\\shade\\cam1.jpg");

    // A silent host: the wait ends at the bound, and the earlier answer is not reused.
    m_hostWindow->Set(FakeHost::Mode::kSilent, "");
    DWORD start = GetTickCount();
    EXPECT_EQ(Dispatch("CameraShelfAddCamera").text, "");
    EXPECT_LT(GetTickCount() - start, kReplyBoundMs + 20000);

    // An answer arriving after the wait gave up does not answer the next request.
    TextSendRequest stray;
    stray.peerTitle = StoreWindowTitle();
    stray.code = PXCD_HOST_REPLY;
    stray.text = "stray.jpg";
    EXPECT_EQ(SendTextToPeer(stray), 1);
    start = GetTickCount();
    EXPECT_EQ(Dispatch("CameraShelfAddCamera").text, "");
    EXPECT_LT(GetTickCount() - start, kReplyBoundMs + 20000);
    EXPECT_EQ(m_hostWindow->Queries(), 3);
}

TEST_F(CameraShelfTest, ImageSelectSendsTheNameAfterTheLastBackslashFromTheShelf) {
    CCameraShelf* shelf = OpenShelf();
    ASSERT_NE(shelf, nullptr);
    // No host window: nothing is sent, the reply is still 0.
    EXPECT_EQ(Dispatch("CameraShelfImageSelect", "C:\\shots\\cam0.jpg").number, 0);
    m_link->WaitForWorkers();

    ASSERT_TRUE(m_hostWindow->Start());
    struct Case {
        const char* selection;
        const char* sent;
    };
    const Case cases[] = {
        {"C:\\shots\\Uploaded\\Shade\\cam3.jpg", "cam3.jpg"},
        {"cam3.jpg", "cam3.jpg"},
        {"C:/shots/cam4.jpg", "C:/shots/cam4.jpg"},  // taken as is: no path normalisation
    };
    size_t count = 0;
    for (const Case& c : cases) {
        const DispatchResult result = Dispatch("CameraShelfImageSelect", c.selection);
        EXPECT_EQ(result.kind, ScriptResult::Kind::kSigned) << c.selection;
        EXPECT_EQ(result.number, 0) << c.selection;
        ASSERT_TRUE(m_hostWindow->WaitForTexts(++count)) << c.selection;
        const FakeHost::Text text = m_hostWindow->Texts().back();
        EXPECT_EQ(text.code, PXCD_IMAGE_SELECTED) << c.selection;
        EXPECT_EQ(text.text, c.sent) << c.selection;
        EXPECT_EQ(text.sender, shelf->Window()) << c.selection;
    }
    EXPECT_EQ(m_hostWindow->Texts().size(), 3u);
}

TEST_F(CameraShelfTest, EscapeLeavesTheShelfOpenAndTheCloseBoxOnlyHidesIt) {
    CCameraShelf* shelf = OpenShelf();
    ASSERT_NE(shelf, nullptr);
    const HWND window = shelf->Window();
    const HWND control = shelf->Flash().GetControlWindow();
    ASSERT_NE(control, nullptr);

    for (const HWND target : {window, control}) {
        for (const WPARAM key : {static_cast<WPARAM>(VK_ESCAPE), static_cast<WPARAM>(VK_RETURN)}) {
            MSG msg{target, WM_KEYDOWN, key, 0, 0, {}};
            EXPECT_TRUE(m_shelves->PreTranslate(&msg)) << key;
            PostMessageA(target, WM_KEYDOWN, key, 0);
            PumpMessages(m_shelves.get());
            EXPECT_TRUE(IsWindowVisible(window)) << key;
        }
    }
    // Other windows' messages are left to the store's loop.
    MSG other{m_link->Window(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_FALSE(m_shelves->PreTranslate(&other));

    // Plain dialog handling would have taken Escape for Cancel.
    MSG escape{window, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    IsDialogMessageA(window, &escape);
    PumpMessages(m_shelves.get());
    EXPECT_FALSE(IsWindowVisible(window));
    ShowWindow(window, SW_SHOW);

    // The close box hides the shelf; the commands still address it.
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessages(m_shelves.get());
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(m_shelves->Current(), shelf);
    EXPECT_EQ(Dispatch("CameraShelfInit").text, ShelfFolder() + "|");
}

}  // namespace
