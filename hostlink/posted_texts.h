// Texts that travel with messages a process posts to its own windows. The message carries
// only a token in wParam; the text waits in a table of this process. Any program on the
// desktop can find those windows and post the same codes with numbers of its own, so a
// wParam is only ever looked up here, never used as an address.
#pragma once

#include <windows.h>

#include <string>

// Posts `message` with a token for a copy of `text` as wParam. False when the post
// failed; the copy is dropped then.
bool PostTextMessage(HWND window, UINT message, const std::string& text);

// Takes over the text that PostTextMessage left for `message` under the token `wParam`.
// False for any other number or message: the message did not come from this process.
bool TakePostedText(UINT message, WPARAM wParam, std::string& text);
