// The stand-in's bitmap manager. Whatever the extension, a written bitmap is a real
// uncompressed BMP image of the bitmap's size (3ds Max would pick its writer by the
// extension; a test only needs a real, readable picture where the name says).
#include "standins/maxhost/host_bitmap.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bitmap.h"

namespace {

void PutLe(std::vector<unsigned char>* out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out->push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

// 24-bit BMP, rows padded to four bytes, a gradient so that the picture is not blank.
bool WriteBmp(const char* path, int width, int height) {
    const std::uint32_t w = static_cast<std::uint32_t>(width);
    const std::uint32_t h = static_cast<std::uint32_t>(height);
    const std::uint32_t rowBytes = (w * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = rowBytes * h;
    std::vector<unsigned char> file;
    file.push_back('B');
    file.push_back('M');
    PutLe(&file, 54 + pixelBytes, 4);
    PutLe(&file, 0, 4);
    PutLe(&file, 54, 4);
    PutLe(&file, 40, 4);
    PutLe(&file, w, 4);
    PutLe(&file, h, 4);
    PutLe(&file, 1, 2);
    PutLe(&file, 24, 2);
    PutLe(&file, 0, 4);
    PutLe(&file, pixelBytes, 4);
    PutLe(&file, 2835, 4);
    PutLe(&file, 2835, 4);
    PutLe(&file, 0, 4);
    PutLe(&file, 0, 4);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            file.push_back(static_cast<unsigned char>(x * 255 / (w ? w : 1)));
            file.push_back(static_cast<unsigned char>(y * 255 / (h ? h : 1)));
            file.push_back(0x80);
        }
        for (std::uint32_t pad = w * 3; pad < rowBytes; ++pad) {
            file.push_back(0);
        }
    }
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

class HostBitmap final : public Bitmap {
public:
    explicit HostBitmap(const BitmapInfo& info) : m_info(info) {}

    int Width() override { return m_info.Width(); }
    int Height() override { return m_info.Height(); }

    BMMRES OpenOutput(BitmapInfo* bi) override {
        m_open = bi != nullptr;
        return m_open ? BMMRES_SUCCESS : BMMRES_ERRORTAKENCARE;
    }

    BMMRES Write(BitmapInfo* bi, DWORD /*frame*/) override {
        if (!m_open || bi == nullptr || !WriteBmp(bi->Name(), Width(), Height())) {
            return BMMRES_ERRORTAKENCARE;
        }
        return BMMRES_SUCCESS;
    }

    BMMRES Close(BitmapInfo* /*bi*/, int /*flag*/) override {
        m_open = false;
        return BMMRES_SUCCESS;
    }

    void DeleteThis() override { delete this; }

    std::string Name() const { return m_info.Name(); }

private:
    ~HostBitmap() override = default;

    BitmapInfo m_info;
    bool m_open = false;
};

class HostBitmapManager final : public BitmapManager {
public:
    Bitmap* Create(BitmapInfo* bi) override {
        if (bi == nullptr || bi->Width() == 0 || bi->Height() == 0) {
            return nullptr;
        }
        return new HostBitmap(*bi);
    }
};

HostBitmapManager gBitmapManager;

}  // namespace

BMMExport BitmapManager* TheManager = &gBitmapManager;

std::string HostBitmapName(Bitmap* bm) {
    auto* bitmap = dynamic_cast<HostBitmap*>(bm);
    return bitmap != nullptr ? bitmap->Name() : std::string();
}
