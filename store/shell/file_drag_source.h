// Dragging files out of the store to other programs: an OLE data source that offers one
// drop-files block (CF_HDROP) and a drop source that allows copying only. Runs on the
// user-interface thread, which must have called OleInitialize.
#pragma once

#include <windows.h>

class DropFileList;

// Copies the list's drop block into a movable, shareable, zero-filled global block and runs
// the drag loop until the user drops or cancels. Returns the loop's result
// (DRAGDROP_S_DROP, DRAGDROP_S_CANCEL) or a failure code; `effect` (may be null) receives
// the effect the target chose.
HRESULT RunFileDrag(const DropFileList& files, DWORD* effect);
