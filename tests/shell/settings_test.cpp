// Tests of the store settings: pxplugin.xml absent, present and partly empty (the update
// service's host among them), the start-up folders and the TransDirectory rule, the exact
// Init reply, and StoreConfig pairs reaching the dispatcher and a real transfer manager.
#include "store/shell/settings_commands.h"
#include "store/shell/store_settings.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"
#include "store/transfers/transfer_manager.h"
#include "tests/shell/temp_log.h"
#include "tests/transfers/fake_transfer_runner.h"
#include "text/multibyte.h"
#include "tests/text/shift_jis_lead_bytes.h"

namespace {

// A fresh installation folder (with its trailing separator) holding an optional
// plugcfg\pxplugin.xml.
class InstallFolder {
public:
    InstallFolder() {
        static std::atomic<int> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_folder = std::filesystem::temp_directory_path() /
                   ("px_settings_test_" + std::to_string(stamp) + "_" + std::to_string(++counter));
        std::filesystem::create_directories(m_folder / "plugcfg");
    }
    ~InstallFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    InstallFolder(const InstallFolder&) = delete;
    InstallFolder& operator=(const InstallFolder&) = delete;

    void WriteSettings(const std::string& bytes) const {
        std::ofstream file(m_folder / "plugcfg" / "pxplugin.xml", std::ios::binary);
        file << bytes;
    }

    std::string Path() const {
        return (m_folder.string() + static_cast<char>(std::filesystem::path::preferred_separator));
    }

private:
    std::filesystem::path m_folder;
};

TEST(SettingsFileTest, SettingsPathFollowsInstallationFolder) {
    EXPECT_EQ(SettingsFilePath("C:\\Program Files\\PX\\"),
              "C:\\Program Files\\PX\\\\plugcfg\\pxplugin.xml");
}

TEST(SettingsFileTest, FileValuesOverDefaults) {
    struct Case {
        const char* label;
        const char* file;  // nullptr: no settings file
        int width;
        int height;
        const char* transDirectory;
        const char* uploadUrl;
        const char* updateHost;
    };
    const char* const kUpload = kDefaultUploadUrl;
    const char* const kUpdate = kDefaultUpdateHost;
    const Case cases[] = {
        {"no file", nullptr, 1024, 768, "", kUpload, kUpdate},
        {"all five",
         "<?xml version=\"1.0\"?>\r\n<PXPlugin>\r\n<width>800</width>\r\n<height>600</height>\r\n"
         "<TransDirectory>D:\\\\Px Cache</TransDirectory>\r\n"
         "<UploadUrl>http://127.0.0.1:8080/Upload/uploadtest.asp?a=1&amp;b=2</UploadUrl>\r\n"
         "<UpdateHost>127.0.0.1:8081</UpdateHost>\r\n"
         "</PXPlugin>\r\n",
         800, 600, "D:\\Px Cache", "http://127.0.0.1:8080/Upload/uploadtest.asp?a=1&b=2",
         "127.0.0.1:8081"},
        {"empty width and update host",
         "<cfg><width></width><height>700</height><UpdateHost></UpdateHost></cfg>", 1024, 700, "",
         kUpload, kUpdate},
        {"update host alone", "<cfg><UpdateHost>updates.example.net</UpdateHost></cfg>", 1024, 768,
         "", kUpload, "updates.example.net"},
        {"root of any name, blanks and sign, trailing text", "<x><width>  -12px</width></x>", -12,
         768, "", kUpload, kUpdate},
        {"non-numeric width reads as 0", "<x><width>wide</width></x>", 0, 768, "", kUpload,
         kUpdate},
        {"only direct children count",
         "<x><inner><width>5</width><UpdateHost>inner.example</UpdateHost></inner></x>", 1024, 768,
         "", kUpload, kUpdate},
        {"not XML at all", "plain text", 1024, 768, "", kUpload, kUpdate},
        // Only a drive letter, a colon and a backslash, or a UNC path is a folder of its own;
        // single backslashes the reader dropped leave "D:PxCache", which is not one.
        {"drive-relative folder", "<x><TransDirectory>D:\\PxCache</TransDirectory></x>", 1024, 768,
         "", kUpload, kUpdate},
        {"relative folder", "<x><TransDirectory>PxCache</TransDirectory></x>", 1024, 768, "",
         kUpload, kUpdate},
        {"rooted on no drive", "<x><TransDirectory>\\\\PxCache</TransDirectory></x>", 1024, 768, "",
         kUpload, kUpdate},
        {"UNC folder", "<x><TransDirectory>\\\\\\\\srv\\\\px</TransDirectory></x>", 1024, 768,
         "\\\\srv\\px", kUpload, kUpdate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        InstallFolder install;
        if (c.file != nullptr) {
            install.WriteSettings(c.file);
        }
        StoreSettings settings;
        settings.installFolder = install.Path();
        EXPECT_EQ(LoadSettings(settings), c.file != nullptr);
        EXPECT_EQ(settings.windowWidth, c.width);
        EXPECT_EQ(settings.windowHeight, c.height);
        EXPECT_EQ(settings.transDirectory, c.transDirectory);
        EXPECT_EQ(settings.uploadUrl, c.uploadUrl);
        EXPECT_EQ(settings.updateHost, c.updateHost);
    }
}

TEST(StartupFoldersTest, CacheRootFromProfile) {
    const std::string tooLong(kProfileBufferBytes, 'p');
    const std::string longest(kProfileBufferBytes - 1, 'p');
    EXPECT_EQ(CacheRootFolderFor("C:\\Users\\ann"), "C:\\Users\\ann\\Vellamar Plenthra");
    EXPECT_EQ(CacheRootFolderFor(nullptr),
              "C:\\Documents and Settings\\All Users\\Vellamar Plenthra");
    EXPECT_EQ(CacheRootFolderFor(""), "C:\\Documents and Settings\\All Users\\Vellamar Plenthra");
    EXPECT_EQ(CacheRootFolderFor(longest.c_str()), longest + "\\Vellamar Plenthra");
    EXPECT_EQ(CacheRootFolderFor(tooLong.c_str()),
              "C:\\Documents and Settings\\All Users\\Vellamar Plenthra");
}

// The settings file the installer puts beside the store writes the built-in defaults out:
// installing it must not change how the store behaves.
TEST(SettingsFileTest, ShippedSettingsFileHoldsTheDefaults) {
    StoreSettings shipped;
    shipped.installFolder = PX_SHIPPED_SETTINGS_FOLDER;
    ASSERT_TRUE(LoadSettings(shipped));
    const StoreSettings defaults;
    EXPECT_EQ(shipped.windowWidth, defaults.windowWidth);
    EXPECT_EQ(shipped.windowHeight, defaults.windowHeight);
    EXPECT_EQ(shipped.transDirectory, defaults.transDirectory);
    EXPECT_EQ(shipped.uploadUrl, defaults.uploadUrl);
    EXPECT_EQ(shipped.updateHost, defaults.updateHost);
}

TEST(StartupFoldersTest, TransDirectoryTakesPrecedenceOverCacheRoot) {
    StoreSettings settings;
    EXPECT_EQ(settings.userCacheFolder, "c:\\Documents and Settings\\");
    SetStartupFolders(settings, "C:\\Users\\ann");
    EXPECT_EQ(settings.userCacheFolder, "C:\\Users\\ann\\Vellamar Plenthra");

    InstallFolder install;
    install.WriteSettings("<c><TransDirectory>E:\\\\Transfers</TransDirectory></c>");
    StoreSettings configured;
    configured.installFolder = install.Path();
    ASSERT_TRUE(LoadSettings(configured));
    SetStartupFolders(configured, "C:\\Users\\ann");
    EXPECT_EQ(configured.cacheRootFolder, "C:\\Users\\ann\\Vellamar Plenthra");
    EXPECT_EQ(configured.userCacheFolder, "E:\\Transfers");

    // The signed-in user's folder still lies below the cache root.
    CScriptCommands commands;
    ApplyStoreConfig(commands, configured, "User=bob|");
    EXPECT_EQ(configured.userCacheFolder, "C:\\Users\\ann\\Vellamar Plenthra\\bob");
}

TEST(StartupFoldersTest, TransDirectoryThatIsNoAbsoluteFolderIsLoggedAndIgnored) {
    TempLogFolder log;
    ASSERT_TRUE(log.Open());
    InstallFolder install;
    install.WriteSettings("<c><TransDirectory>D:\\PxCache</TransDirectory></c>");
    StoreSettings settings;
    settings.installFolder = install.Path();
    ASSERT_TRUE(LoadSettings(settings));
    SetStartupFolders(settings, "C:\\Users\\ann");
    EXPECT_EQ(settings.userCacheFolder, "C:\\Users\\ann\\Vellamar Plenthra");
    const std::vector<std::string> lines = log.CloseAndReadBody();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("TransDirectory \"D:PxCache\""), std::string::npos) << lines[0];
}

// The signed-in user's name walked by whole characters: a Shift-JIS name whose trail byte is a
// backslash keeps the separator after it.
TEST(StartupFoldersTest, UserFolderKeepsTheSeparatorAfterADoubleByteName) {
    ShiftJisLeadBytes shiftJis;
    StoreSettings settings;
    SetStartupFolders(settings, "C:\\Users\\ann");
    CScriptCommands commands;
    ApplyStoreConfig(commands, settings, "User=\x95\x5C\\\\x|");
    EXPECT_EQ(settings.userCacheFolder, "C:\\Users\\ann\\Vellamar Plenthra\\\x95\x5C\\x");
}

#ifdef _WIN32
TEST(StartupFoldersTest, ProgramFolderEndsWithBackslash) {
    const std::string folder = StoreInstallationFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
}
#endif

class RecordingHost : public IStoreSettingsHost {
public:
    explicit RecordingHost(int hostId) : m_hostId(hostId) {}
    int HostId() const override { return m_hostId; }
    void SetMovieReady() override { ++readyCalls; }
    int readyCalls = 0;

private:
    int m_hostId;
};

// The commands behind a dispatcher of their own, with a real transfer manager on demand.
class SettingsCommandsTest : public ::testing::Test {
protected:
    SettingsCommandsTest() { m_settings.cacheRootFolder = "C:\\Users\\ann\\Vellamar Plenthra"; }

    std::string Reply(const std::string& name, const std::string& arguments) {
        ScriptResult result;
        m_commands.Dispatch(name, arguments, result);
        return BuildReturnValueCall(name, result);
    }

    int32_t StoreConfig(const std::string& text) {
        ScriptResult result;
        m_commands.Dispatch("StoreConfig", text, result);
        EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kSigned);
        return result.Signed();
    }

    CScriptCommands m_commands;
    StoreSettings m_settings;
};

TEST_F(SettingsCommandsTest, InitRepliesCacheRootAndHostAndMarksReady) {
    RecordingHost host(14);
    RegisterSettingsCommands(m_commands, m_settings, &host);
    EXPECT_EQ(Reply("init", ""),
              "<invoke name=\"SetReturnValue\" returntype=\"xml\"><arguments><string>init</string>"
              "<string>RootCachePath=C:\\Users\\ann\\Vellamar Plenthra|HostID=14|</string>"
              "</arguments></invoke>");
    EXPECT_EQ(host.readyCalls, 1);
}

TEST_F(SettingsCommandsTest, InitWithoutHostReportsHostZero) {
    RegisterSettingsCommands(m_commands, m_settings, nullptr);
    ScriptResult result;
    m_commands.Dispatch("Init", "ignored", result);
    EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kText);
    EXPECT_EQ(result.Text(), "RootCachePath=C:\\Users\\ann\\Vellamar Plenthra|HostID=0|");
}

TEST_F(SettingsCommandsTest, StoreConfigPairsWithoutManager) {
    RegisterSettingsCommands(m_commands, m_settings, nullptr);
    struct Case {
        const char* text;
        const char* userFolder;  // "" when the folder must stay as it was
    };
    const std::string root = "C:\\Users\\ann\\Vellamar Plenthra";
    const Case cases[] = {
        {"UploadUrl=X|User=bob|MaxDownloadCount=3|MaxUploadCount=2|", "\\bob"},
        {"user=bob|", "\\bob"},
        {"USER=bob|User=carol|", "\\carol"},
        {"User=\\\\ dave|", "\\dave"},
        {"User=a \\ b\\\\c/d|", "\\a\\b\\c/d"},
        {"User=bob", ""},  // no closing bar: not applied
        {"User=bob|User=eve", "\\bob"},
        {"noise User=frank|", ""},  // the key is "noise User"
        {"=User=gina|", "\\gina"},  // a leading "=" fits no pair and is skipped
        {"||User=hal|", ""},        // the bars become part of the key
        {"", ""},
        {"Users=x|", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        m_settings.userCacheFolder = "unchanged";
        m_commands.SetUserCacheFolder("unchanged");
        EXPECT_EQ(StoreConfig(c.text), 0);
        const std::string expected = c.userFolder[0] == '\0' ? "unchanged" : root + c.userFolder;
        EXPECT_EQ(m_settings.userCacheFolder, expected);
        EXPECT_EQ(m_commands.UserCacheFolder(), expected);
    }
}

bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kTransferTestPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class SettingsManagerTest : public SettingsCommandsTest {
protected:
    SettingsManagerTest() : m_gate(nullptr, 0), m_manager(m_runner, m_host, m_gate, Timings()) {
        m_manager.setUserCacheFolder(m_settings.cacheRootFolder);
        m_manager.setDefaultUploadUrl(kDefaultUploadUrl);
        m_commands.SetTransferManager(&m_manager, m_settings.cacheRootFolder);
        RegisterSettingsCommands(m_commands, m_settings, nullptr);
    }

    static TransferTimings Timings() {
        TransferTimings timings;
        timings.lingerMs = 0;
        return timings;
    }

    FakeTransferRunner m_runner;
    FakeTransferHost m_host;
    TransferStartGate m_gate;
    TransferManager m_manager;
};

TEST_F(SettingsManagerTest, ExampleReachesTheManager) {
    EXPECT_EQ(StoreConfig("UploadUrl=http://127.0.0.1/Upload/uploadtest.asp?u=bob|User=bob|"
                          "MaxDownloadCount=1|MaxUploadCount=2|"),
              0);
    const std::string userFolder = "C:\\Users\\ann\\Vellamar Plenthra\\bob";
    EXPECT_EQ(m_manager.userCacheFolder(), userFolder);
    EXPECT_EQ(m_host.Get(m_host.createdFolders).back(), userFolder);

    // One download at a time now; an upload without its own URL goes to the new one.
    m_manager.startDownload(1, "http://127.0.0.1/a", "C:\\d\\a", "a");
    m_manager.startDownload(2, "http://127.0.0.1/b", "C:\\d\\b", "b");
    m_manager.startUpload(3, "C:\\d\\c.max", "guid", "");
    EXPECT_EQ(m_manager.waitingCount(), 1);
    ASSERT_TRUE(m_runner.WaitStarted("http://127.0.0.1/Upload/uploadtest.asp?u=bob"));
    EXPECT_EQ(m_manager.activeCount(), 2);
    m_runner.Release("http://127.0.0.1/a", 0);
    m_runner.Release("http://127.0.0.1/b", 0);
    m_runner.Release("http://127.0.0.1/Upload/uploadtest.asp?u=bob", 0);
    EXPECT_TRUE(Eventually([&] { return m_manager.activeCount() == 0; }));
}

TEST_F(SettingsManagerTest, NonNumericLimitQueuesEverything) {
    EXPECT_EQ(StoreConfig("maxuploadcount=none|MAXDOWNLOADCOUNT=zero|"), 0);
    m_manager.startDownload(1, "http://127.0.0.1/a", "C:\\d\\a", "a");
    m_manager.startUpload(2, "C:\\d\\c.max", "guid", "");
    EXPECT_EQ(m_manager.activeCount(), 0);
    EXPECT_EQ(m_manager.waitingCount(), 2);
}

TEST_F(SettingsManagerTest, FolderThatCannotBeMadeStillRepliesZero) {
    m_host.foldersCanBeMade = false;
    EXPECT_EQ(StoreConfig("User=bob|"), 0);
    EXPECT_EQ(m_manager.userCacheFolder(), "");
    EXPECT_EQ(m_commands.UserCacheFolder(), "C:\\Users\\ann\\Vellamar Plenthra\\bob");
}

}  // namespace
