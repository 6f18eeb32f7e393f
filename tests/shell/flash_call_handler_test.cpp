// Tests of the FlashCall flow against a stand-in control: direct GetTransStatus answers,
// the main window's drag-out list, dispatch with reply and log lines, failing controls,
// and the guarded push.
#include "store/shell/flash_call_handler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/shell/flash_control.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"
#include "tests/shell/temp_log.h"

namespace {

// Records every call into the movie; can be told to fail them all.
class FakeFlashControl : public IFlashControl {
public:
    bool LoadMovie(int layer, const std::string& path) override {
        movies.push_back(std::to_string(layer) + ":" + path);
        return !failing;
    }
    bool CallFunction(const std::string& request, std::string* response) override {
        calls.push_back(request);
        if (response != nullptr) {
            *response = failing ? "" : "<undefined/>";
        }
        return !failing;
    }

    bool failing = false;
    std::vector<std::string> movies;
    std::vector<std::string> calls;
};

class FakeTransferStatus : public ITransferStatusSource {
public:
    std::string GetTransStatus() override {
        ++polls;
        return "\"12,340,2048,0;13,0,1024,1;\"";
    }
    int polls = 0;
};

class FakeDragOutSink : public IDragOutSink {
public:
    void SetPendingDragOutList(const std::string& list) override { lists.push_back(list); }
    std::vector<std::string> lists;
};

std::string Request(const std::string& name, const std::string& arguments) {
    return "<invoke name=\"" + name + "\" returntype=\"xml\"><arguments>" + arguments +
           "</arguments></invoke>";
}

std::string Reply(const std::string& name, const std::string& value) {
    return "<invoke name=\"SetReturnValue\" returntype=\"xml\"><arguments><string>" + name +
           "</string><string>" + value + "</string></arguments></invoke>";
}

const char kDragOutList[] = "1*C:\\models\\a b.max*2048|2*C:\\models\\c.max*0|";

// The dispatcher is process-wide: every test starts and ends with its slots empty, and
// records what its handlers were given.
class FlashCallHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheScriptCommands().ClearHandlers();
        ASSERT_TRUE(m_log.Open());
    }
    void TearDown() override { TheScriptCommands().ClearHandlers(); }

    void RecordCommand(ScriptCommand command, ScriptResult value) {
        TheScriptCommands().SetHandler(
            command, [this, value](const std::string& arguments, ScriptResult& result) {
                m_dispatched.push_back(arguments);
                result = value;
            });
    }

    TempLogFolder m_log;
    FakeFlashControl m_control;
    FakeTransferStatus m_status;
    FakeDragOutSink m_dragOut;
    std::vector<std::string> m_dispatched;
};

TEST_F(FlashCallHandlerTest, GetTransStatusIsAnsweredDirectlyWithTheNameAsSent) {
    RecordCommand(ScriptCommand::kGetTransStatus, ScriptResult());
    const char* names[] = {"GetTransStatus", "gettransstatus", "GETTRANSSTATUS"};
    std::vector<std::string> expected;
    for (const char* name : names) {
        OnFlashCall(Request(name, ""), m_control, &m_status, &m_dragOut);
        expected.push_back(Reply(name, "\"12,340,2048,0;13,0,1024,1;\""));
    }
    // Without a transfer manager the status text is empty.
    OnFlashCall(Request("GetTransStatus", "<string>x</string>"), m_control, nullptr, nullptr);
    expected.push_back(Reply("GetTransStatus", ""));

    EXPECT_EQ(m_control.calls, expected);
    EXPECT_EQ(m_status.polls, 3);
    EXPECT_TRUE(m_dispatched.empty());
    EXPECT_TRUE(m_log.CloseAndReadBody().empty());
}

TEST_F(FlashCallHandlerTest, BeginDropFilesKeepsAListOfExactlyOneArgument) {
    struct Case {
        std::string name;
        std::string arguments;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {"BeginDropFiles", std::string("<string>") + kDragOutList + "</string>", {kDragOutList}},
        {"begindropfiles", "<string></string>", {""}},
        {"BeginDropFiles", "", {}},
        {"BeginDropFiles", "<string>a</string><string>b</string>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + c.arguments);
        FakeDragOutSink sink;
        OnFlashCall(Request(c.name, c.arguments), m_control, &m_status, &sink);
        EXPECT_EQ(sink.lists, c.kept);
    }
    EXPECT_TRUE(m_control.calls.empty());
    EXPECT_TRUE(m_log.CloseAndReadBody().empty());
}

// The camera shelf has no drag-out list: there BeginDropFiles is an ordinary, unknown name.
TEST_F(FlashCallHandlerTest, WithoutASinkBeginDropFilesIsDispatched) {
    OnFlashCall(Request("BeginDropFiles", std::string("<string>") + kDragOutList + "</string>"),
                m_control, &m_status, nullptr);
    EXPECT_EQ(m_control.calls, std::vector<std::string>{Reply("BeginDropFiles", "")});
    EXPECT_EQ(
        m_log.CloseAndReadBody(),
        (std::vector<std::string>{std::string("Function=BeginDropFiles, Arguments=") + kDragOutList,
                                  "Function=BeginDropFiles, return value="}));
}

TEST_F(FlashCallHandlerTest, DispatchedCallsAreLoggedAndAnswered) {
    ScriptResult zero;
    zero.SetSigned(0);
    RecordCommand(ScriptCommand::kStartDownloadFile, zero);
    ScriptResult files;
    files.SetText("C:\\a<b>.max*10*01/02/2007*01/02/2007|");
    RecordCommand(ScriptCommand::kSelectFiles, files);

    OnFlashCall(Request("startDownloadFile",
                        "<number>7</number><string>http://h/f?a=1&amp;b=2</string>"
                        "<string>a b.max</string><number>14</number>"),
                m_control, &m_status, &m_dragOut);
    OnFlashCall(Request("SelectFiles", ""), m_control, &m_status, &m_dragOut);
    OnFlashCall(Request("NoSuchCommand", "<string>x</string>"), m_control, &m_status, &m_dragOut);
    OnFlashCall("<invoke returntype=\"xml\"><arguments></arguments></invoke>", m_control, &m_status,
                &m_dragOut);

    EXPECT_EQ(m_dispatched, (std::vector<std::string>{"7*http://h/f?a=1&b=2*a b.max*14", ""}));
    EXPECT_EQ(m_control.calls, (std::vector<std::string>{
                                   Reply("startDownloadFile", "0"),
                                   Reply("SelectFiles", "C:\\a<b>.max*10*01/02/2007*01/02/2007|"),
                                   Reply("NoSuchCommand", ""),
                                   Reply("", ""),
                               }));
    EXPECT_EQ(m_log.CloseAndReadBody(),
              (std::vector<std::string>{
                  "Function=startDownloadFile, Arguments=7*http://h/f?a=1&b=2*a b.max*14",
                  "Function=startDownloadFile, return value=0",
                  "Function=SelectFiles, Arguments=",
                  "Function=SelectFiles, return value=C:\\a<b>.max*10*01/02/2007*01/02/2007|",
                  "Function=NoSuchCommand, Arguments=x",
                  "Function=NoSuchCommand, return value=",
                  "Function=, Arguments=",
                  "Function=, return value=",
              }));
    EXPECT_TRUE(m_dragOut.lists.empty());
}

TEST_F(FlashCallHandlerTest, TextsThatAreNoRequestChangeNothing) {
    RecordCommand(ScriptCommand::kInit, ScriptResult());
    const char* texts[] = {"", "<invoke name=\"Init\" returntype=\"xml\"></invoke>",
                           "<invoke name=\"Init\"><arguments>", "Init"};
    for (const char* text : texts) {
        OnFlashCall(text, m_control, &m_status, &m_dragOut);
    }
    EXPECT_TRUE(m_control.calls.empty());
    EXPECT_TRUE(m_dispatched.empty());
    EXPECT_EQ(m_status.polls, 0);
    EXPECT_TRUE(m_log.CloseAndReadBody().empty());
}

TEST_F(FlashCallHandlerTest, FailingRepliesDoNotStopLaterCalls) {
    RecordCommand(ScriptCommand::kInit, ScriptResult());
    m_control.failing = true;
    OnFlashCall(Request("Init", ""), m_control, &m_status, &m_dragOut);
    OnFlashCall(Request("GetTransStatus", ""), m_control, &m_status, &m_dragOut);
    m_control.failing = false;
    OnFlashCall(Request("Init", ""), m_control, &m_status, &m_dragOut);
    EXPECT_EQ(m_dispatched.size(), 2u);
    EXPECT_EQ(m_control.calls.size(), 3u);
}

// Each window's control raises the event and gets the reply back, re-entering the control
// from inside its own event.
TEST_F(FlashCallHandlerTest, BoundControlsAnswerThroughThemselves) {
    ScriptResult done;
    done.SetText("ok");
    RecordCommand(ScriptCommand::kCameraShelfInit, done);
    FakeFlashControl shelf;
    BindFlashCallHandler(m_control, &m_status, &m_dragOut);
    BindFlashCallHandler(shelf, &m_status, nullptr);

    shelf.FireFlashCall(Request("CameraShelfInit", ""));
    m_control.FireFlashCall(Request("BeginDropFiles", "<string>1*C:\\a*1|</string>"));
    shelf.FireFlashCall(Request("BeginDropFiles", "<string>1*C:\\a*1|</string>"));

    EXPECT_EQ(shelf.calls, (std::vector<std::string>{Reply("CameraShelfInit", "ok"),
                                                     Reply("BeginDropFiles", "")}));
    EXPECT_TRUE(m_control.calls.empty());
    EXPECT_EQ(m_dragOut.lists, std::vector<std::string>{"1*C:\\a*1|"});
}

TEST(PushScriptCallTest, CallsOnlyAnExistingControlWithARequest) {
    PushScriptCall(nullptr, kEnableTreeMenuDragDropCall);

    FakeFlashControl control;
    PushScriptCall(&control, "");
    PushScriptCall(&control, kEnableTreeMenuDragDropCall);
    control.failing = true;
    PushScriptCall(&control, kDoShowStoreCall);
    EXPECT_EQ(control.calls,
              (std::vector<std::string>{kEnableTreeMenuDragDropCall, kDoShowStoreCall}));
}

}  // namespace
