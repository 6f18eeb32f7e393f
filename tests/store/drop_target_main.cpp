// drop_target.exe: another program's window that files can be dragged onto, for the store's
// drag-out tests. It opens a borderless top-level window at the given screen rectangle,
// registers an OLE drop target on it that takes the shell's file-drop format (copy only),
// and reports on standard output, one flushed line each:
//   ready                the window is up and its drop target registered
//   enter                a drag that offers files entered the window
//   dropped PATH|PATH    files were dropped, in the order of the drop block
// It ends when standard input closes or reads "quit" ("bye" is its last line).
//   drop_target.exe X Y WIDTH HEIGHT
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kWindowClass[] = "PxDropTargetWindow";

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

FORMATETC FileDropFormat() {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return format;
}

std::string ReadDroppedPaths(HDROP drop) {
    std::string joined;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        std::string path(length + 1, '\0');
        path.resize(DragQueryFileA(drop, i, path.data(), length + 1));
        if (i > 0) {
            joined += '|';
        }
        joined += path;
    }
    return joined;
}

class FileDropTarget : public IDropTarget {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
            *out = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return refs;
    }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        FORMATETC format = FileDropFormat();
        m_offersFiles = data != nullptr && data->QueryGetData(&format) == S_OK;
        if (m_offersFiles) {
            Say("enter");
        }
        return Choose(effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        return Choose(effect);
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        m_offersFiles = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        Choose(effect);
        m_offersFiles = false;
        if (data == nullptr || *effect == DROPEFFECT_NONE) {
            return S_OK;
        }
        FORMATETC format = FileDropFormat();
        STGMEDIUM medium = {};
        if (data->GetData(&format, &medium) != S_OK) {
            Say("drop-without-files");
            *effect = DROPEFFECT_NONE;
            return S_OK;
        }
        Say("dropped " + ReadDroppedPaths(static_cast<HDROP>(medium.hGlobal)));
        ReleaseStgMedium(&medium);
        return S_OK;
    }

private:
    virtual ~FileDropTarget() = default;

    HRESULT Choose(DWORD* effect) const {
        if (effect == nullptr) {
            return E_INVALIDARG;
        }
        *effect =
            (m_offersFiles && (*effect & DROPEFFECT_COPY)) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }

    std::atomic<ULONG> m_refs{1};
    bool m_offersFiles = false;
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            HBRUSH fill = CreateSolidBrush(RGB(40, 110, 60));
            FillRect(dc, &client, fill);
            DeleteObject(fill);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(255, 255, 255));
            DrawTextA(dc, "drop target", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_CLOSE:
            RevokeDragDrop(window);
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

struct ReaderStart {
    HWND window;
};

DWORD WINAPI ReadCommands(void* start) {
    const HWND window = static_cast<ReaderStart*>(start)->window;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
        if (std::string(buffer).rfind("quit", 0) == 0) {
            break;
        }
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: drop_target X Y WIDTH HEIGHT\n");
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    if (FAILED(OleInitialize(nullptr))) {
        Say("ole-failed");
        return 1;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, kWindowClass, "Drop target", WS_POPUP | WS_VISIBLE,
                                  x, y, width, height, nullptr, nullptr, instance, nullptr);
    FileDropTarget* target = new FileDropTarget();
    if (window == nullptr || FAILED(RegisterDragDrop(window, target))) {
        Say(window == nullptr ? "window-failed" : "register-failed");
        target->Release();
        if (window != nullptr) {
            DestroyWindow(window);
        }
        OleUninitialize();
        return 1;
    }
    UpdateWindow(window);

    ReaderStart start = {window};
    HANDLE reader = CreateThread(nullptr, 0, ReadCommands, &start, 0, nullptr);
    if (reader == nullptr) {
        RevokeDragDrop(window);
        target->Release();
        DestroyWindow(window);
        OleUninitialize();
        return 1;
    }
    Say("ready");
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    WaitForSingleObject(reader, 10000);
    CloseHandle(reader);
    target->Release();
    OleUninitialize();
    Say("bye");
    return 0;
}
