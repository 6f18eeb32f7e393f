// FlashCall event handling; runs on the user-interface thread inside the control's event.
#include "store/shell/flash_call_handler.h"

#include "store/shell/flash_control.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"

void OnFlashCall(const std::string& request, IFlashControl& control,
                 ITransferStatusSource* transferStatus, IDragOutSink* dragOut) {
    ScriptCall call;
    if (!ParseScriptCall(request, call)) {
        return;
    }

    // Polled several times a second: answered here, neither logged nor dispatched.
    if (ScriptNameEquals(call.name, "GetTransStatus")) {
        std::string status =
            transferStatus != nullptr ? transferStatus->GetTransStatus() : std::string();
        control.CallFunction(BuildTextReturnValueCall(call.name, status), nullptr);
        return;
    }

    if (dragOut != nullptr && ScriptNameEquals(call.name, "BeginDropFiles")) {
        if (call.arguments.size() == 1) {
            dragOut->SetPendingDragOutList(call.arguments[0].text);
        }
        return;
    }

    ScriptResult result;
    TheScriptCommands().Dispatch(call.name, JoinArguments(call.arguments), result);
    // A movie without SetReturnValue, or a control that is not ready, only loses the reply.
    control.CallFunction(BuildReturnValueCall(call.name, result), nullptr);
}

void BindFlashCallHandler(IFlashControl& control, ITransferStatusSource* transferStatus,
                          IDragOutSink* dragOut) {
    IFlashControl* target = &control;
    control.SetFlashCallHandler([target, transferStatus, dragOut](const std::string& request) {
        OnFlashCall(request, *target, transferStatus, dragOut);
    });
}
