// CShockwaveflash1 hosting the Flash control stand-in in a real top-level window: the
// control is made from the stand-in DLL's class factory (no registration needed), and the
// test plays the stand-in's movie driver on a local socket. Covers placement and the
// control id, LoadMovie and FlashCall with ANSI text crossing as Unicode, a re-entrant
// CallFunction from the handler, creation failures with their reasons, and Destroy
// releasing everything (twice, and with calls afterwards).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "store/shell/shockwave_flash.h"

namespace {

constexpr DWORD kWaitMs = 10000;
constexpr int kControlId = 1000;

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The driver's end of one control's link. Waiting pumps this thread's messages, because
// the control raises FlashCall from this (its user-interface) thread's loop.
class DriverLink {
public:
    DriverLink() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(m_listen, 2);
        int length = sizeof(address);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        u_long nonBlocking = 1;
        ioctlsocket(m_listen, static_cast<long>(FIONBIO), &nonBlocking);
    }
    ~DriverLink() {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        closesocket(m_listen);
        WSACleanup();
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

    bool Accept() {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < kWaitMs) {
            m_socket = accept(m_listen, nullptr, nullptr);
            if (m_socket != INVALID_SOCKET) {
                u_long nonBlocking = 1;
                ioctlsocket(m_socket, static_cast<long>(FIONBIO), &nonBlocking);
                return true;
            }
            PumpMessages();
            Sleep(5);
        }
        return false;
    }

    void Send(const std::string& line) {
        std::string data = line + "\n";
        ASSERT_EQ(send(m_socket, data.data(), static_cast<int>(data.size()), 0),
                  static_cast<int>(data.size()));
    }

    // The next line, or "<closed>" / "<timeout>".
    std::string ReadLine() {
        DWORD start = GetTickCount();
        for (;;) {
            size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            char chunk[4096];
            int n = recv(m_socket, chunk, sizeof(chunk), 0);
            if (n > 0) {
                m_buffer.append(chunk, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
                return "<closed>";
            if (GetTickCount() - start > kWaitMs)
                return "<timeout>";
            PumpMessages();
            Sleep(5);
        }
    }

private:
    SOCKET m_listen = INVALID_SOCKET;
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
    std::string m_buffer;
};

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadFunction = HRESULT(WINAPI*)();

class FlashHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dll(path);
        dll = dll.substr(0, dll.find_last_of('\\') + 1) + "flash_standin.dll";
        m_module = LoadLibraryA(dll.c_str());
        ASSERT_NE(m_module, nullptr) << dll;
        auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
        m_canUnload = reinterpret_cast<CanUnloadFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_NE(m_canUnload, nullptr);
        ASSERT_EQ(getClassObject(kShockwaveFlashClassId, IID_IClassFactory,
                                 reinterpret_cast<void**>(&m_factory)),
                  S_OK);
        m_window = CreateWindowExA(0, "STATIC", "Vellamar", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                   400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", m_driver.Address().c_str());
    }

    void TearDown() override {
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", nullptr);
        if (m_window != nullptr)
            DestroyWindow(m_window);
        if (m_factory != nullptr)
            m_factory->Release();
        // The DLL stays loaded, as COM would keep it.
        OleUninitialize();
    }

    bool Create(CShockwaveflash1& control, std::string* reason = nullptr) {
        return control.CreateFromFactory(m_factory, m_window, kControlId, kPlace, reason);
    }

    static constexpr RECT kPlace{2, 0, 302, 200};
    HMODULE m_module = nullptr;
    CanUnloadFunction m_canUnload = nullptr;
    IClassFactory* m_factory = nullptr;
    HWND m_window = nullptr;
    DriverLink m_driver;
};

SIZE ClientSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return SIZE{client.right, client.bottom};
}

TEST_F(FlashHostTest, PlacesTheControlAndReleasesEverythingOnDestroy) {
    {
        CShockwaveflash1 control;
        std::string reason;
        ASSERT_TRUE(Create(control, &reason)) << reason;
        EXPECT_TRUE(control.IsCreated());
        HWND window = control.GetControlWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(GetParent(window), m_window);
        EXPECT_EQ(GetDlgItem(m_window, kControlId), window);
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(ClientSize(window).cx, 300);
        EXPECT_EQ(ClientSize(window).cy, 200);

        EXPECT_TRUE(control.Resize(RECT{10, 20, 110, 70}));
        EXPECT_EQ(ClientSize(window).cx, 100);
        EXPECT_EQ(ClientSize(window).cy, 50);

        EXPECT_EQ(m_canUnload(), S_FALSE);  // the control is alive
        control.Destroy();
        EXPECT_FALSE(IsWindow(window));
        EXPECT_FALSE(control.IsCreated());
        EXPECT_EQ(m_canUnload(), S_OK);
        EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);

        // Nothing left to call, and a second Destroy (and the destructor's) is harmless.
        std::string response = "untouched";
        EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", &response));
        EXPECT_EQ(response, "untouched");
        EXPECT_FALSE(control.LoadMovie(0, "C:\\x\\Aerin.swf"));
        EXPECT_FALSE(control.Resize(kPlace));
        control.Destroy();
        EXPECT_EQ(control.GetControlWindow(), nullptr);

        // The same object can host again.
        ASSERT_TRUE(Create(control));
        EXPECT_EQ(m_canUnload(), S_FALSE);
    }
    // The destructor destroyed the second control.
    EXPECT_EQ(m_canUnload(), S_OK);
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);
}

TEST_F(FlashHostTest, FlashCallCrossesAsAnsiAndTheHandlerCanCallBack) {
    ASSERT_EQ(GetACP(), 1252u) << "the byte cases below assume the Western code page";
    CShockwaveflash1 control;
    ASSERT_TRUE(Create(control));
    ASSERT_TRUE(control.LoadMovie(0, "C:\\Program Files\\Caf\xE9\\Aerin.swf"));
    ASSERT_TRUE(m_driver.Accept());
    EXPECT_EQ(m_driver.ReadLine(),
              "{\"event\":\"loadMovie\",\"layer\":0,"
              "\"path\":\"C:\\\\Program Files\\\\Caf\xC3\xA9\\\\Aerin.swf\"}");

    std::vector<std::string> requests;
    std::vector<DWORD> threads;
    control.SetFlashCallHandler([&](const std::string& request) {
        requests.push_back(request);
        threads.push_back(GetCurrentThreadId());
        std::string response = "untouched";
        EXPECT_TRUE(
            control.CallFunction("<invoke name=\"SetReturnValue\">r\xE9</invoke>", &response));
        EXPECT_EQ(response, "");  // the stand-in answers the empty text
    });
    m_driver.Send(R"({"call":"<invoke name=\"Init\">caf\u00e9 \"q\"</invoke>"})");
    EXPECT_EQ(m_driver.ReadLine(),
              "{\"event\":\"callFunction\",\"request\":\"<invoke name=\\\"SetReturnValue\\\">"
              "r\xC3\xA9</invoke>\"}");
    EXPECT_EQ(m_driver.ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "<invoke name=\"Init\">caf\xE9 \"q\"</invoke>");
    EXPECT_EQ(threads[0], GetCurrentThreadId());

    // A push outside any event, with a character the code page cannot hold coming in.
    control.SetFlashCallHandler([&](const std::string& request) { requests.push_back(request); });
    EXPECT_TRUE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"callFunction","request":"<invoke name=\"Push\"/>"})");
    m_driver.Send(R"({"call":"x\u4e00y"})");
    EXPECT_EQ(m_driver.ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], "x?y");

    // Destroy closes the control, which ends its link; later driver calls reach nobody.
    control.Destroy();
    EXPECT_EQ(m_driver.ReadLine(), "<closed>");
    PumpMessages();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
}

TEST_F(FlashHostTest, CreationFailuresLeaveNoControlAndSayWhy) {
    const CLSID kUnregistered = {
        0x6B1F3A52, 0x0C9D, 0x4E7B, {0x9A, 0x11, 0x52, 0x7C, 0x3D, 0x80, 0x44, 0x19}};
    CShockwaveflash1 control;
    std::string reason;
    EXPECT_FALSE(control.CreateOfClass(kUnregistered, m_window, kControlId, kPlace, &reason));
    EXPECT_EQ(reason, "control not installed: class not registered");
    EXPECT_FALSE(control.IsCreated());
    EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
    EXPECT_FALSE(control.LoadMovie(0, "C:\\x\\Aerin.swf"));
    EXPECT_EQ(GetDlgItem(m_window, kControlId), nullptr);

    reason.clear();
    EXPECT_FALSE(control.CreateFromFactory(nullptr, m_window, kControlId, kPlace, &reason));
    EXPECT_EQ(reason, "control not installed: no class factory");

    // A failed creation replaces a working control rather than leaving it half alive.
    ASSERT_TRUE(Create(control));
    EXPECT_FALSE(control.CreateOfClass(kUnregistered, m_window, kControlId, kPlace, nullptr));
    EXPECT_FALSE(control.IsCreated());
    EXPECT_EQ(m_canUnload(), S_OK);
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);
}

}  // namespace
