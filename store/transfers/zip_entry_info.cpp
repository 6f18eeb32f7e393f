// Entry times and attributes for the archives; see zip_entry_info.h.
#include "store/transfers/zip_entry_info.h"

void FillZipEntryInfo(const FILETIME& writeTime, DWORD attributes, bool isFolder,
                      zip_fileinfo& info) {
    info = zip_fileinfo{};
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&writeTime, &local) || !FileTimeToSystemTime(&local, &st)) {
        GetLocalTime(&st);
    }
    info.tmz_date.tm_sec = st.wSecond;
    info.tmz_date.tm_min = st.wMinute;
    info.tmz_date.tm_hour = st.wHour;
    info.tmz_date.tm_mday = st.wDay;
    info.tmz_date.tm_mon = static_cast<decltype(info.tmz_date.tm_mon)>(st.wMonth - 1);
    info.tmz_date.tm_year = st.wYear;
    if (!isFolder)
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    info.external_fa = attributes;
    info.internal_fa = 0;
}

void FillZipEntryInfo(const char* path, bool isFolder, zip_fileinfo& info) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        FillZipEntryInfo(data.ftLastWriteTime, data.dwFileAttributes, isFolder, info);
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    FillZipEntryInfo(now, isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL, isFolder,
                     info);
}
