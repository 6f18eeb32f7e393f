// Read loop bookkeeping and progress texts of the update download.
#include "store/updater/download_reads.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

bool BodyReadPlan::Record(std::size_t bytes) {
    ++m_reads;
    if (bytes > 0) {
        return true;
    }
    if (m_emptyReadsLeft == 0) {
        return false;
    }
    --m_emptyReadsLeft;
    return true;
}

std::int64_t ParseContentLength(const char* header) {
    if (header == nullptr) {
        return 0;
    }
    char* end = nullptr;
    const long long value = std::strtoll(header, &end, 10);
    if (end == header || value <= 0) {
        return 0;
    }
    return value;
}

int ProgressPercent(std::uint64_t bytes, std::int64_t total) {
    if (total <= 0) {
        return -1;
    }
    const std::uint64_t whole = static_cast<std::uint64_t>(total);
    if (bytes >= whole) {
        return 100;
    }
    if (bytes <= UINT64_MAX / 100) {
        return static_cast<int>(bytes * 100 / whole);
    }
    // Sizes beyond any real file: the rounding no longer matters, the overflow would.
    const std::uint64_t percent = bytes / (whole / 100);
    return static_cast<int>(percent > 100 ? 100 : percent);
}

std::string SizeLineText(std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / 1024.0);
    return text;
}
