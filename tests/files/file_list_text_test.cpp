// File-list records as the movie reads them: "path*size*created*modified|" with local
// month/day/year dates and full 64-bit sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "store/files/file_list_text.h"

namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(FileListText, RecordsCarryPathSizeAndLocalDates) {
    const struct {
        const char* path;
        uint64_t size;
        std::time_t created;
        std::time_t written;
        const char* expected;
    } cases[] = {
        {"C:\\up\\a.max", 1234, LocalTime(2007, 3, 7, 12, 0), LocalTime(2008, 11, 30, 9, 15),
         "C:\\up\\a.max*1234*03/07/2007*11/30/2008|"},
        // Beyond 32 bits.
        {"C:\\big.bin", 5000000000ULL, LocalTime(2010, 1, 2, 0, 0), LocalTime(2010, 1, 2, 0, 0),
         "C:\\big.bin*5000000000*01/02/2010*01/02/2010|"},
        // Late in the evening the local date is still that day, whatever the zone.
        {"C:\\late.txt", 0, LocalTime(2006, 12, 31, 23, 30), LocalTime(2007, 1, 1, 0, 30),
         "C:\\late.txt*0*12/31/2006*01/01/2007|"},
        {"C:\\tree.PLENTHRA_UNZIP", 18446744073709551615ULL, LocalTime(1999, 9, 9, 9, 9),
         LocalTime(1999, 9, 9, 9, 9),
         "C:\\tree.PLENTHRA_UNZIP*18446744073709551615*09/09/1999*09/09/1999|"},
    };
    for (const auto& c : cases) {
        std::string list;
        AppendFileListRecord(list, c.path, c.size, c.created, c.written);
        EXPECT_EQ(list, c.expected);
    }
}

TEST(FileListText, RecordsFollowEachOtherEachEndingWithABar) {
    std::string list = "C:\\a*1*01/01/2001*01/01/2001|";
    AppendFileListRecord(list, std::string("C:\\b") + kFolderMarker, 2, LocalTime(2002, 2, 2, 2, 2),
                         LocalTime(2003, 3, 3, 3, 3));
    EXPECT_EQ(list, "C:\\a*1*01/01/2001*01/01/2001|C:\\b.PLENTHRA_UNZIP*2*02/02/2002*03/03/2003|");
}

}  // namespace
