// The read loop of an update download and the texts of its progress window, apart from
// WinInet so that they can be checked anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kFirstReadBytes = 4096;
constexpr std::size_t kLaterReadBytes = 4024;
constexpr int kAllowedEmptyReads = 16;

// How much each read of the body asks for and when the loop stops. The first read asks for
// 4096 bytes, every later one for 4024. A read that returns nothing uses up one of 16
// allowed empty reads; the first empty read after those are used up ends the loop. Data
// reads do not give empty reads back.
class BodyReadPlan {
public:
    std::size_t NextReadBytes() const { return m_reads == 0 ? kFirstReadBytes : kLaterReadBytes; }
    // Records a read that returned `bytes`; false when the loop ends with it.
    bool Record(std::size_t bytes);

private:
    std::size_t m_reads = 0;
    int m_emptyReadsLeft = kAllowedEmptyReads;
};

// The Content-Length header scanned as a decimal number; 0 (unknown) when absent, not a
// number or not positive.
std::int64_t ParseContentLength(const char* header);

// bytes * 100 / total as an integer percent, at most 100; -1 when the total is unknown.
int ProgressPercent(std::uint64_t bytes, std::int64_t total);

// "%.2f KB" of bytes / 1024.
std::string SizeLineText(std::uint64_t bytes);
