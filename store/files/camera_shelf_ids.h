// Resource identifiers of the camera shelf window, shared by its .rc file (and the store
// program's, which includes it) and the code.
#pragma once

#define IDD_CAMERASHELF 131
#define IDC_CAMERASHELF_FLASH 1003
