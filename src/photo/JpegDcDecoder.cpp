#include "photo/JpegDcDecoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "photo/JpegHuffmanTable.h"

namespace corvane {

namespace {

using namespace jpeg;

// An interleaved scan has at most 10 blocks to a unit, each at most 64 codes of at most 16 bits
// followed by at most 15 value bits: the most one unit can read past the data it was given.
constexpr int kMaxBlocksInUnit = 10;
constexpr size_t kPadding = kMaxBlocksInUnit * 64 * 31 / 8 + 64;

uint16_t BigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

struct TComponent {
    int Id = 0;
    int H = 1;
    int V = 1;
    int QuantTable = 0;
    int DcTable = 0;
    int AcTable = 0;
    int Quant = 0;       // the DC step
    int32_t Last = 0;    // the previous block's DC value
    int PlaneWidth = 0;  // in blocks
    std::vector<uint8_t> Plane;
};

class TDcDecoder {
public:
    bool Run(std::span<const uint8_t> bytes, const std::function<bool(int, int)>& wanted,
             TBitmap& picture);

private:
    bool ReadHeaders(std::span<const uint8_t> bytes, const std::function<bool(int, int)>& wanted,
                     size_t& scanStart);
    bool ReadFrame(const uint8_t* p, size_t length);
    bool ReadTables(const uint8_t* p, size_t length);
    bool ReadQuantTables(const uint8_t* p, size_t length);
    bool ReadScan(const uint8_t* p, size_t length);
    bool Unstuff(std::span<const uint8_t> data);
    bool DecodeBlock(TComponent& component, uint64_t& pos, uint8_t& value) const;
    bool DecodeScan();
    void Convert(TBitmap& picture) const;

    int FWidth = 0;
    int FHeight = 0;
    int FMaxH = 1;
    int FMaxV = 1;
    int FRestartInterval = 0;
    bool FSawFrame = false;
    std::vector<TComponent> FComponents;
    std::vector<int> FScanOrder;  // the components in the scan's order
    std::array<int, 4> FQuant{};
    std::array<bool, 4> FQuantDefined{};
    std::array<THuffmanTable, 4> FDc;
    std::array<THuffmanTable, 4> FAc;
    int FUnitsAcross = 0;
    int FUnitsDown = 0;
    std::vector<uint8_t> FData;  // the entropy-coded data without stuffing, padded with zeros
    std::vector<size_t> FSegmentStart;  // where each restart interval's data begins
    std::vector<size_t> FSegmentEnd;
};

bool TDcDecoder::Run(std::span<const uint8_t> bytes, const std::function<bool(int, int)>& wanted,
                     TBitmap& picture) {
    size_t scanStart = 0;
    if (!ReadHeaders(bytes, wanted, scanStart) || !Unstuff(bytes.subspan(scanStart)) ||
        !DecodeScan())
        return false;
    if (!picture.SetSize((FWidth + 7) / 8, (FHeight + 7) / 8))
        return false;
    Convert(picture);
    return true;
}

bool TDcDecoder::ReadHeaders(std::span<const uint8_t> bytes,
                             const std::function<bool(int, int)>& wanted, size_t& scanStart) {
    const uint8_t* data = bytes.data();
    const size_t size = bytes.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    size_t at = 2;
    for (;;) {
        if (at >= size || data[at] != 0xFF)
            return false;
        while (at < size && data[at] == 0xFF)
            ++at;
        if (at + 2 >= size)
            return false;
        const uint8_t marker = data[at];
        const size_t length = BigEndian16(data + at + 1);
        if (length < 2 || length > size - at - 1)
            return false;
        const uint8_t* payload = data + at + 3;
        const size_t payloadLength = length - 2;
        at += 1 + length;
        switch (marker) {
            case 0xC0:  // baseline
            case 0xC1:  // extended sequential, Huffman-coded
                if (FSawFrame || !ReadFrame(payload, payloadLength))
                    return false;
                if (static_cast<int64_t>(FWidth) * FHeight > TBitmap::kMaxPixels ||
                    !wanted(FWidth, FHeight))
                    return false;
                break;
            case 0xC4:
                if (!ReadTables(payload, payloadLength))
                    return false;
                break;
            case 0xDB:
                if (!ReadQuantTables(payload, payloadLength))
                    return false;
                break;
            case 0xDD:
                if (payloadLength != 2)
                    return false;
                FRestartInterval = BigEndian16(payload);
                break;
            case 0xDA:
                if (!FSawFrame || !ReadScan(payload, payloadLength))
                    return false;
                scanStart = at;
                return true;
            case 0xEE:
                // An Adobe segment may say the three components are RGB: not ours to guess.
                if (payloadLength >= 5 && std::memcmp(payload, "Adobe", 5) == 0)
                    return false;
                break;
            default:
                // Other application segments and comments carry no picture data; everything
                // else (progressive or arithmetic-coded frames, stray markers) is not ours.
                if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
                    return false;
                break;
        }
    }
}

bool TDcDecoder::ReadFrame(const uint8_t* p, size_t length) {
    if (length < 6 || p[0] != 8)
        return false;
    FHeight = BigEndian16(p + 1);
    FWidth = BigEndian16(p + 3);
    const int count = p[5];
    if (FWidth == 0 || FHeight == 0 || (count != 1 && count != 3) ||
        length != 6 + static_cast<size_t>(count) * 3)
        return false;
    for (int i = 0; i < count; ++i) {
        const uint8_t* c = p + 6 + i * 3;
        TComponent component;
        component.Id = c[0];
        component.H = c[1] >> 4;
        component.V = c[1] & 15;
        component.QuantTable = c[2];
        if (component.H < 1 || component.H > 2 || component.V < 1 || component.V > 2 ||
            component.QuantTable > 3)
            return false;
        for (const TComponent& other : FComponents) {
            if (other.Id == component.Id)
                return false;
        }
        FMaxH = std::max(FMaxH, component.H);
        FMaxV = std::max(FMaxV, component.V);
        FComponents.push_back(std::move(component));
    }
    // Components named R, G and B hold RGB, which libjpeg is left to convert.
    if (count == 3 && FComponents[0].Id == 'R' && FComponents[1].Id == 'G' &&
        FComponents[2].Id == 'B')
        return false;
    FSawFrame = true;
    return true;
}

bool TDcDecoder::ReadTables(const uint8_t* p, size_t length) {
    size_t at = 0;
    while (at < length) {
        if (length - at < 17)
            return false;
        const int kind = p[at] >> 4;
        const int id = p[at] & 15;
        if (kind > 1 || id > 3)
            return false;
        const uint8_t* counts = p + at + 1;
        size_t total = 0;
        for (int i = 0; i < 16; ++i)
            total += counts[i];
        if (total > 256 || length - at - 17 < total)
            return false;
        THuffmanTable& table =
            kind == 0 ? FDc[static_cast<size_t>(id)] : FAc[static_cast<size_t>(id)];
        if (!BuildHuffmanTable(counts, p + at + 17, kind == 1, table))
            return false;
        at += 17 + total;
    }
    return true;
}

bool TDcDecoder::ReadQuantTables(const uint8_t* p, size_t length) {
    size_t at = 0;
    while (at < length) {
        const int precision = p[at] >> 4;
        const int id = p[at] & 15;
        const size_t tableLength = precision == 0 ? 64 : 128;
        if (precision > 1 || id > 3 || length - at - 1 < tableLength)
            return false;
        // The first entry is the DC coefficient's step, the only one used here.
        FQuant[static_cast<size_t>(id)] = precision == 0 ? p[at + 1] : BigEndian16(p + at + 1);
        FQuantDefined[static_cast<size_t>(id)] = true;
        at += 1 + tableLength;
    }
    return true;
}

bool TDcDecoder::ReadScan(const uint8_t* p, size_t length) {
    if (length < 1)
        return false;
    const size_t count = p[0];
    // The first scan must hold every component, coded sequentially in full.
    if (count != FComponents.size() || length != 4 + count * 2)
        return false;
    const uint8_t* spectral = p + 1 + count * 2;
    if (spectral[0] != 0 || spectral[1] != 63 || spectral[2] != 0)
        return false;
    int blocks = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* s = p + 1 + i * 2;
        auto found = std::find_if(FComponents.begin(), FComponents.end(),
                                  [&](const TComponent& c) { return c.Id == s[0]; });
        if (found == FComponents.end())
            return false;
        const int index = static_cast<int>(found - FComponents.begin());
        if (std::find(FScanOrder.begin(), FScanOrder.end(), index) != FScanOrder.end())
            return false;
        found->DcTable = s[1] >> 4;
        found->AcTable = s[1] & 15;
        if (found->DcTable > 3 || found->AcTable > 3 ||
            !FDc[static_cast<size_t>(found->DcTable)].Defined ||
            !FAc[static_cast<size_t>(found->AcTable)].Defined ||
            !FQuantDefined[static_cast<size_t>(found->QuantTable)])
            return false;
        found->Quant = FQuant[static_cast<size_t>(found->QuantTable)];
        FScanOrder.push_back(index);
        blocks += found->H * found->V;
    }
    if (count == 1) {
        // One component alone is coded block by block, whatever its sampling factors say.
        TComponent& only = FComponents[0];
        only.H = only.V = FMaxH = FMaxV = 1;
    } else if (blocks > kMaxBlocksInUnit) {
        return false;
    }
    FUnitsAcross = (FWidth + 8 * FMaxH - 1) / (8 * FMaxH);
    FUnitsDown = (FHeight + 8 * FMaxV - 1) / (8 * FMaxV);
    for (TComponent& c : FComponents) {
        c.PlaneWidth = FUnitsAcross * c.H;
        c.Plane.resize(static_cast<size_t>(c.PlaneWidth) * FUnitsDown * c.V);
    }
    return true;
}

// Copies the entropy-coded data without its stuffed zero bytes, splitting it at the restart
// markers, up to the first other marker or the end of the file.
bool TDcDecoder::Unstuff(std::span<const uint8_t> data) {
    const int64_t units = static_cast<int64_t>(FUnitsAcross) * FUnitsDown;
    const int64_t segments =
        FRestartInterval > 0 ? (units + FRestartInterval - 1) / FRestartInterval : 1;
    FData.reserve(data.size() + kPadding);
    FSegmentStart.push_back(0);
    const uint8_t* p = data.data();
    const uint8_t* end = p + data.size();
    for (;;) {
        const auto* mark =
            static_cast<const uint8_t*>(std::memchr(p, 0xFF, static_cast<size_t>(end - p)));
        FData.insert(FData.end(), p, mark ? mark : end);
        if (!mark)
            break;
        const uint8_t* next = mark + 1;
        while (next < end && *next == 0xFF)
            ++next;
        if (next == end)
            break;
        if (*next == 0) {
            FData.push_back(0xFF);
            p = next + 1;
            continue;
        }
        const auto number = static_cast<int64_t>(FSegmentStart.size());
        if (FRestartInterval == 0 || *next < 0xD0 || *next > 0xD7 || number >= segments)
            break;  // the end of the scan
        if (*next != 0xD0 + (number - 1) % 8)
            return false;
        FSegmentEnd.push_back(FData.size());
        FSegmentStart.push_back(FData.size());
        p = next + 1;
    }
    FSegmentEnd.push_back(FData.size());
    if (static_cast<int64_t>(FSegmentStart.size()) != segments)
        return false;  // cut short: libjpeg is left to say so
    FData.resize(FData.size() + kPadding, 0);
    return true;
}

// One block's DC value, as a pixel, skipping its AC coefficients. Codes are read out of a
// window of 57 bits or more, loaded again only when fewer than the longest code and its value
// may be left: the next code then waits for a shift and not for a load.
inline bool TDcDecoder::DecodeBlock(TComponent& component, uint64_t& pos, uint8_t& value) const {
    constexpr int kRefillAfter = 57 - 31;
    const THuffmanTable& dc = FDc[static_cast<size_t>(component.DcTable)];
    const THuffmanTable& ac = FAc[static_cast<size_t>(component.AcTable)];
    const uint8_t* data = FData.data();
    uint64_t window = Window(data, pos);
    int length = 0;
    int size = 0;
    if (const uint32_t entry = dc.Fast[window >> (64 - kFastBits)]) {
        length = entry & 0xFF;
        size = entry >> 8;
    } else {
        uint8_t symbol = 0;
        if (!LongCode(dc, window, length, symbol))
            return false;
        size = symbol & 15;
    }
    int32_t difference = 0;
    if (size > 0) {
        const auto bits = static_cast<int32_t>((window << length) >> (64 - size));
        difference = bits < (int32_t{1} << (size - 1)) ? bits - (int32_t{1} << size) + 1 : bits;
    }
    int used = length + size;
    // As libjpeg keeps it: the sum wraps, the coefficient is 16 bits.
    component.Last = static_cast<int32_t>(static_cast<uint32_t>(component.Last) +
                                          static_cast<uint32_t>(difference));
    const auto coefficient = static_cast<int16_t>(component.Last);
    const int64_t level = (static_cast<int64_t>(coefficient) * component.Quant + 4) >> 3;
    value = static_cast<uint8_t>(std::clamp<int64_t>(level + 128, 0, 255));
    window <<= used;
    for (int k = 1; k < 64;) {
        if (used > kRefillAfter) {
            pos += static_cast<uint64_t>(used);
            window = Window(data, pos);
            used = 0;
        }
        uint32_t entry = ac.Fast[window >> (64 - kFastBits)];
        if (entry == 0) {
            uint8_t symbol = 0;
            if (!LongCode(ac, window, length, symbol))
                return false;
            entry = AcEntry(length, symbol);
        }
        // A block that ends with its 63rd coefficient has no end-of-block code: codes chained
        // after the one that gets there belong to the next block.
        uint32_t bits = AllBits(entry);
        uint32_t advance = AllAdvance(entry);
        if (k + static_cast<int>(LeadAdvance(entry)) >= 64) {
            bits = FirstBits(entry);
            advance = FirstAdvance(entry);
        }
        window <<= bits;
        used += static_cast<int>(bits);
        k += static_cast<int>(advance);
    }
    pos += static_cast<uint64_t>(used);
    return true;
}

bool TDcDecoder::DecodeScan() {
    uint64_t pos = 0;
    uint64_t end = FSegmentEnd[0] * 8;
    size_t segment = 0;
    int left = FRestartInterval;
    for (int y = 0; y < FUnitsDown; ++y) {
        for (int x = 0; x < FUnitsAcross; ++x) {
            if (FRestartInterval > 0 && left == 0) {
                ++segment;
                pos = FSegmentStart[segment] * 8;
                end = FSegmentEnd[segment] * 8;
                for (TComponent& c : FComponents)
                    c.Last = 0;
                left = FRestartInterval;
            }
            for (int index : FScanOrder) {
                TComponent& c = FComponents[static_cast<size_t>(index)];
                for (int v = 0; v < c.V; ++v) {
                    uint8_t* row =
                        c.Plane.data() + static_cast<size_t>(y * c.V + v) * c.PlaneWidth + x * c.H;
                    for (int h = 0; h < c.H; ++h) {
                        if (!DecodeBlock(c, pos, row[h]))
                            return false;
                    }
                }
            }
            // Past its data: a damaged or cut-off interval.
            if (pos > end)
                return false;
            --left;
        }
    }
    return true;
}

// A component's plane at one value per luma block. Chroma sampled at half the luma is widened
// between the block centres, three parts the nearer block to one part the other, which keeps a
// colour ramp a ramp where repeating each value would make steps.
std::vector<uint8_t> Widened(const TComponent& c, int maxH, int maxV, int width, int height) {
    const int stepX = maxH / c.H;
    const int stepY = maxV / c.V;
    const int planeHeight = static_cast<int>(c.Plane.size()) / c.PlaneWidth;
    // For each output position: the nearer source position, the other one, and its weight.
    struct TTap {
        int Near;
        int Far;
        int FarWeight;  // of 4
    };
    auto taps = [](int count, int step, int limit) {
        std::vector<TTap> result(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const int source = i / step;
            if (step == 1) {
                result[static_cast<size_t>(i)] = {source, source, 0};
                continue;
            }
            const int other = i % 2 == 0 ? source - 1 : source + 1;
            result[static_cast<size_t>(i)] = {source, std::clamp(other, 0, limit - 1), 1};
        }
        return result;
    };
    std::vector<uint8_t> plane(static_cast<size_t>(width) * height);
    if (stepX == 1 && stepY == 1) {
        for (int y = 0; y < height; ++y)
            std::memcpy(plane.data() + static_cast<size_t>(y) * width,
                        c.Plane.data() + static_cast<size_t>(y) * c.PlaneWidth,
                        static_cast<size_t>(width));
        return plane;
    }
    const std::vector<TTap> down = taps(height, stepY, planeHeight);
    // Each row blends two source rows first, then neighbours along the blend.
    std::vector<uint16_t> blend(static_cast<size_t>(c.PlaneWidth));
    const int last = c.PlaneWidth - 1;
    for (int y = 0; y < height; ++y) {
        const TTap& v = down[static_cast<size_t>(y)];
        const uint8_t* nearRow = c.Plane.data() + static_cast<size_t>(v.Near) * c.PlaneWidth;
        const uint8_t* farRow = c.Plane.data() + static_cast<size_t>(v.Far) * c.PlaneWidth;
        for (int i = 0; i <= last; ++i)
            blend[static_cast<size_t>(i)] =
                static_cast<uint16_t>(nearRow[i] * (4 - v.FarWeight) + farRow[i] * v.FarWeight);
        uint8_t* out = plane.data() + static_cast<size_t>(y) * width;
        if (stepX == 1) {
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<uint8_t>((blend[static_cast<size_t>(x)] * 4 + 8) >> 4);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const int source = x / 2;
            const int other = x % 2 == 0 ? std::max(source - 1, 0) : std::min(source + 1, last);
            out[x] = static_cast<uint8_t>(
                (blend[static_cast<size_t>(source)] * 3 + blend[static_cast<size_t>(other)] + 8) >>
                4);
        }
    }
    return plane;
}

// YCbCr to RGB as JFIF defines it, in 16-bit fixed point.
void TDcDecoder::Convert(TBitmap& picture) const {
    const int width = picture.Width();
    const int height = picture.Height();
    const std::vector<uint8_t> luma = Widened(FComponents[0], FMaxH, FMaxV, width, height);
    if (FComponents.size() == 1) {
        for (int y = 0; y < height; ++y) {
            uint8_t* out = picture.Row(y);
            const uint8_t* in = luma.data() + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x, out += 3)
                out[0] = out[1] = out[2] = in[x];
        }
        return;
    }
    std::array<int, 256> redFromCr;
    std::array<int, 256> blueFromCb;
    std::array<int, 256> greenFromCb;
    std::array<int, 256> greenFromCr;
    for (int i = 0; i < 256; ++i) {
        const int c = i - 128;
        redFromCr[static_cast<size_t>(i)] = (91881 * c + 32768) >> 16;
        blueFromCb[static_cast<size_t>(i)] = (116130 * c + 32768) >> 16;
        greenFromCb[static_cast<size_t>(i)] = -22554 * c;
        greenFromCr[static_cast<size_t>(i)] = -46802 * c + 32768;
    }
    const std::vector<uint8_t> cb = Widened(FComponents[1], FMaxH, FMaxV, width, height);
    const std::vector<uint8_t> cr = Widened(FComponents[2], FMaxH, FMaxV, width, height);
    auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    for (int y = 0; y < height; ++y) {
        uint8_t* out = picture.Row(y);
        const size_t row = static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x, out += 3) {
            const int l = luma[row + x];
            const uint8_t b = cb[row + x];
            const uint8_t r = cr[row + x];
            out[0] = clamp(l + redFromCr[r]);
            out[1] = clamp(l + ((greenFromCb[b] + greenFromCr[r]) >> 16));
            out[2] = clamp(l + blueFromCb[b]);
        }
    }
}

}  // namespace

bool DecodeJpegDc(std::span<const uint8_t> bytes, const std::function<bool(int, int)>& wanted,
                  TBitmap& picture) {
    picture.Clear();
    if (bytes.empty() || !wanted)
        return false;
    try {
        TDcDecoder decoder;
        if (decoder.Run(bytes, wanted, picture))
            return true;
    } catch (const std::bad_alloc&) {
    }
    picture.Clear();
    return false;
}

}  // namespace corvane
