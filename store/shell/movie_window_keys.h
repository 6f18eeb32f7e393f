// The keys every window hosting a movie treats alike: Escape is swallowed (it would close
// the dialog and must not reach the movie either), Enter goes straight to the focused
// control instead of pressing a default button.
#pragma once

#include <windows.h>

class CShockwaveflash1;

// True when `msg` was one of those keys and is done with (Enter has been dispatched).
bool HandleMovieWindowKeys(MSG& msg);

// The whole key handling of a window hosting `flash`, before the dialog manager: Escape is
// swallowed; a key message aimed at the control's window is offered to the control first
// (a text field in the movie takes Tab, the arrows, Enter and Backspace this way); then
// the rules above. True when `msg` is done with.
bool TranslateMovieWindowKeys(MSG& msg, CShockwaveflash1& flash);
