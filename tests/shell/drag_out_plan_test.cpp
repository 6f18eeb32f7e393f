// Which files a drag out of the movie drags, and which it asks the movie to download.
#include "store/shell/drag_out_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct DragOutCase {
    const char* label;
    std::string list;
    std::vector<std::string> dragged;
    std::string downloads;
};

TEST(DragOutPlanTest, RecordsAreCheckedAgainstTheFilesOnDisk) {
    const std::map<std::string, uint64_t> disk = {
        {"C:\\m\\a.max", 10}, {"C:\\m\\b.max", 20}, {"C:\\m\\big.max", 5368709120ull},  // 5 GiB
    };
    const PathSizeFunction sizeOf = [&disk](const std::string& path) -> uint64_t {
        const auto found = disk.find(path);
        return found == disk.end() ? 0 : found->second;
    };
    const DragOutCase cases[] = {
        {"both present with their sizes",
         "1*C:\\m\\a.max*10|2*C:\\m\\b.max*20|",
         {"C:\\m\\a.max", "C:\\m\\b.max"},
         ""},
        {"one with another size",
         "1*C:\\m\\a.max*10|2*C:\\m\\b.max*21|",
         {"C:\\m\\a.max"},
         "C:\\m\\b.max*"},
        {"one missing",
         "1*C:\\m\\gone.max*5|2*C:\\m\\a.max*10|",
         {"C:\\m\\a.max"},
         "C:\\m\\gone.max*"},
        {"size 0 is skipped", "1*C:\\m\\gone.max*0|2*C:\\m\\a.max*10|", {"C:\\m\\a.max"}, ""},
        {"5 GiB matches like any other", "3*C:\\m\\big.max*5368709120|", {"C:\\m\\big.max"}, ""},
        {"a size beyond 64 bits never matches",
         "3*C:\\m\\a.max*99999999999999999999999|",
         {},
         "C:\\m\\a.max*"},
        {"text that is no record is skipped", "junk|1*C:\\m\\a.max*10|tail*", {"C:\\m\\a.max"}, ""},
        {"a last record without its bar is not read", "1*C:\\m\\a.max*10", {}, ""},
        {"empty list", "", {}, ""},
    };
    for (const DragOutCase& c : cases) {
        SCOPED_TRACE(c.label);
        const DragOutPlan plan = PlanDragOut(c.list, sizeOf);
        EXPECT_EQ(plan.dragPaths, c.dragged);
        EXPECT_EQ(plan.downloadList, c.downloads);
        EXPECT_EQ(plan.fileMissing, !c.downloads.empty());
    }
}

}  // namespace
