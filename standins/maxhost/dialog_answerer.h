// Answers the plug-in's message boxes and dialogs on the main thread at once, the way a
// user pressing OK would, and prints what they said.
#pragma once

// Installs the hook for the calling thread; the plug-in's boxes appear on that thread.
bool InstallDialogAnswerer();
void RemoveDialogAnswerer();
