// The event plumbing of the Flash control interface and the guarded push.
#include "store/shell/flash_control.h"

void IFlashControl::FireFlashCall(const std::string& request) const {
    // A copy, so that a handler which replaces itself does not destroy the running callable.
    FlashCallHandler handler = m_flashCallHandler;
    if (handler) {
        handler(request);
    }
}

void PushScriptCall(IFlashControl* mainControl, const std::string& request) {
    if (mainControl == nullptr || request.empty()) {
        return;
    }
    mainControl->CallFunction(request, nullptr);
}
