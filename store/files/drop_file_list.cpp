// The drop-files block: header, paths with their zeros, and zero filling.
#include "store/files/drop_file_list.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

void DropFileList::AddPath(std::string path) {
    m_paths.push_back(std::move(path));
}

std::size_t DropBlockSize(std::size_t pathBytes) {
    return ((pathBytes + 22) / 32 + 1) * 32;
}

bool DropFileList::BuildDropBlock() {
    m_block.reset();
    m_blockSize = 0;
    std::size_t pathBytes = 0;
    for (const std::string& path : m_paths) {
        // strlen, not size(): a path is a C string and ends at its first zero.
        pathBytes += std::strlen(path.c_str()) + 1;
    }
    const std::size_t size = DropBlockSize(pathBytes);
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block) {
        return false;
    }
    std::memset(block.get(), 0, size);
    // Only the file-list offset is non-zero: drop point (0, 0), client area, narrow text.
    const uint32_t listOffset = static_cast<uint32_t>(kDropFilesHeaderSize);
    std::memcpy(block.get(), &listOffset, sizeof(listOffset));
    std::size_t offset = kDropFilesHeaderSize;
    for (const std::string& path : m_paths) {
        const std::size_t length = std::strlen(path.c_str());
        std::memcpy(block.get() + offset, path.c_str(), length);
        offset += length + 1;
    }
    m_block = std::move(block);
    m_blockSize = size;
    return true;
}
