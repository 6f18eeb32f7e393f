// The FlashCall event handler shared by the main window and the camera shelf: parse the
// movie's request, answer GetTransStatus at once, keep a drag-out list, dispatch the rest
// and answer with SetReturnValue on the control that asked.
#pragma once

#include <string>

class IFlashControl;

// The transfer manager's "GetTransStatus" text, asked for on every poll.
class ITransferStatusSource {
public:
    virtual ~ITransferStatusSource() = default;
    virtual std::string GetTransStatus() = 0;
};

// The main window's pending drag-out list, set by "BeginDropFiles".
class IDragOutSink {
public:
    virtual ~IDragOutSink() = default;
    virtual void SetPendingDragOutList(const std::string& list) = 0;
};

// Handles one FlashCall event raised by `control`; replies go back to that control and a
// failing reply call is ignored. A null `transferStatus` answers GetTransStatus with empty
// text. `dragOut` is the main window's sink; the camera shelf passes null, and then
// "BeginDropFiles" is dispatched like any other name.
void OnFlashCall(const std::string& request, IFlashControl& control,
                 ITransferStatusSource* transferStatus, IDragOutSink* dragOut);

// Makes OnFlashCall the control's FlashCall handler. The status source and the sink must
// outlive the binding.
void BindFlashCallHandler(IFlashControl& control, ITransferStatusSource* transferStatus,
                          IDragOutSink* dragOut);
