// The keys every window hosting a movie treats alike: Escape is swallowed (it would close
// the dialog and must not reach the movie either), Enter goes straight to the focused
// control instead of pressing a default button.
#pragma once

#include <windows.h>

// True when `msg` was one of those keys and is done with (Enter has been dispatched).
bool HandleMovieWindowKeys(MSG& msg);
