#include "store/shell/drag_out_plan.h"

#include <cerrno>
#include <cstdlib>

#include "text/pattern_matcher.h"

const char kDragOutRecordPattern[] = "{\\d+}\\*{[^\\*]+?}\\*{\\d+}\\|";

namespace {

// The whole group is digits; a value that overflows reads as UINT64_MAX.
uint64_t ParseSize(const std::string& digits) {
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(value);
}

}  // namespace

DragOutPlan PlanDragOut(const std::string& list, const PathSizeFunction& pathSize) {
    DragOutPlan plan;
    CPatternMatcher matcher;
    if (matcher.Compile(kDragOutRecordPattern, true) != kPatternOk) {
        return plan;
    }
    size_t from = 0;
    while (from < list.size() && matcher.Match(list, from)) {
        from = matcher.MatchEnd();
        const std::string path = matcher.Group(1);
        const uint64_t expected = ParseSize(matcher.Group(2));
        if (expected == 0) {
            continue;
        }
        if (expected != UINT64_MAX && pathSize(path) == expected) {
            plan.dragPaths.push_back(path);
        } else {
            plan.downloadList += path + "*";
            plan.fileMissing = true;
        }
    }
    return plan;
}
