// DropFileList: the paths the store offers to other programs, and the drop-files block
// (the shell's DROPFILES header followed by the narrow path list) built from them. The
// block is plain memory owned by the list; whoever hands it to the shell copies it into a
// global memory object of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Bytes of the DROPFILES header: file-list offset, drop point, non-client flag, wide flag.
constexpr std::size_t kDropFilesHeaderSize = 20;

class DropFileList {
public:
    void AddPath(std::string path);
    const std::vector<std::string>& Paths() const { return m_paths; }

    // Replaces any earlier block. The size is ((sum of length + 1 over the paths) + 22)
    // / 32 + 1 blocks of 32 bytes, which always leaves room for the header, every path
    // with its zero, and the empty string that ends the list. False (and no block) when
    // the memory cannot be had.
    bool BuildDropBlock();
    const unsigned char* GetBlock() const { return m_block.get(); }
    std::size_t GetBlockSize() const { return m_blockSize; }

private:
    std::vector<std::string> m_paths;
    std::unique_ptr<unsigned char[]> m_block;
    std::size_t m_blockSize = 0;
};

// The block size for a sum of (path length + 1) over all paths.
std::size_t DropBlockSize(std::size_t pathBytes);
