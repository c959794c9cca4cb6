// A picture as a JPEG encoder takes it: full-range (JFIF) luma and chroma planes, the chroma at
// half the width and half the height (4:2:0). The photo export decodes video records into it,
// which spares it a round trip through RGB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class TYcbcrPicture {
public:
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int ChromaWidth() const { return FWidth / 2; }
    int ChromaHeight() const { return FHeight / 2; }

    // Even sides only; the planes keep their bytes when the size does not change, as every
    // decoder writes each of them.
    void SetSize(int width, int height) {
        if (width == FWidth && height == FHeight)
            return;
        FWidth = width;
        FHeight = height;
        FLuma.assign(static_cast<size_t>(width) * height, 0);
        FCb.assign(static_cast<size_t>(width / 2) * (height / 2), 0);
        FCr.assign(FCb.size(), 0);
    }

    uint8_t* Luma(int row) { return FLuma.data() + static_cast<size_t>(row) * FWidth; }
    const uint8_t* Luma(int row) const { return FLuma.data() + static_cast<size_t>(row) * FWidth; }
    uint8_t* Cb(int row) { return FCb.data() + static_cast<size_t>(row) * ChromaWidth(); }
    const uint8_t* Cb(int row) const {
        return FCb.data() + static_cast<size_t>(row) * ChromaWidth();
    }
    uint8_t* Cr(int row) { return FCr.data() + static_cast<size_t>(row) * ChromaWidth(); }
    const uint8_t* Cr(int row) const {
        return FCr.data() + static_cast<size_t>(row) * ChromaWidth();
    }

private:
    int FWidth = 0;
    int FHeight = 0;
    std::vector<uint8_t> FLuma;
    std::vector<uint8_t> FCb;
    std::vector<uint8_t> FCr;
};

}  // namespace corvane
