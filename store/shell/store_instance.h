// One store at a time: the instance counter shared by every process of the store's
// program file, and what a second start does instead of opening a window of its own.
#pragma once

#include <windows.h>

#include <string>

// Reads the counter and, only when it was 0, sets it to 1 in the same atomic step, so
// that two stores started at the same moment cannot both pass. `valueSeen` (may be null)
// receives the value read. The counter is never lowered: it vanishes with the last
// process of the program file.
bool ClaimFirstInstance(LONG* valueSeen);

struct SecondInstanceOptions {
    // The running store may still be building its window; give it this long (plus the
    // counter's value in ms) before looking for it.
    DWORD baseDelayMs = 800;
};

// Waits, brings the running store's main window ("Vellamar") to the front and, when the
// command line is a drive path, hands it to the running store's message window as the
// file to save (cut to 520 characters). Without a main window nothing happens; without
// the message window the path is lost but the window still comes to the front.
void RunSecondInstance(const std::string& commandLine, LONG counterValue,
                       const SecondInstanceOptions& options = SecondInstanceOptions());
