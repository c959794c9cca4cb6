#include "photo/JpegHuffmanTable.h"

#include <algorithm>
#include <cstddef>

namespace corvane::jpeg {

namespace {

// Chains each AC fast entry with the codes that follow it inside the looked-at bits, up to the
// end of a block.
void ChainCodes(THuffmanTable& table, const std::array<uint8_t, 1 << kFastBits>& lengths) {
    const std::array<uint32_t, 1 << kFastBits> single = table.Fast;
    constexpr uint32_t kMask = (1u << kFastBits) - 1;
    for (uint32_t i = 0; i <= kMask; ++i) {
        const uint32_t first = single[i];
        if (first == 0)
            continue;
        uint32_t bits = FirstBits(first);
        uint32_t advance = FirstAdvance(first);
        uint32_t lead = 0;
        while (advance < 64 && bits < kFastBits) {
            const uint32_t next = (i << bits) & kMask;
            const uint32_t following = single[next];
            if (following == 0 || lengths[next] > kFastBits - bits)
                break;
            lead = advance;
            bits += FirstBits(following);
            advance += FirstAdvance(following);
        }
        table.Fast[i] = AcFields(FirstBits(first), FirstAdvance(first), bits, advance, lead);
    }
}

}  // namespace

bool BuildHuffmanTable(const uint8_t* counts, const uint8_t* symbols, bool ac,
                       THuffmanTable& table) {
    table = THuffmanTable();
    std::array<uint8_t, 1 << kFastBits> lengths{};
    int32_t code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = counts[length - 1];
        table.ValueShift[static_cast<size_t>(length)] = index - code;
        for (int i = 0; i < count; ++i, ++index, ++code) {
            const uint8_t symbol = symbols[index];
            table.Values[static_cast<size_t>(index)] = symbol;
            if (length <= kFastBits && code < (int32_t{1} << length)) {
                const int spread = kFastBits - length;
                const uint32_t entry = ac ? AcEntry(length, symbol) : DcEntry(length, symbol);
                const auto first = static_cast<ptrdiff_t>(code) << spread;
                std::fill_n(table.Fast.begin() + first, size_t{1} << spread, entry);
                std::fill_n(lengths.begin() + first, size_t{1} << spread,
                            static_cast<uint8_t>(length));
            }
        }
        // A set of lengths that runs out of codes is no prefix code.
        if (code > (int32_t{1} << length))
            return false;
        table.MaxCode[static_cast<size_t>(length)] = count > 0 ? code - 1 : -1;
        code <<= 1;
    }
    if (ac)
        ChainCodes(table, lengths);
    table.Defined = true;
    return true;
}

// A code longer than kFastBits: its symbol and length, or false for bits that are no code.
bool LongCode(const THuffmanTable& table, uint64_t window, int& length, uint8_t& symbol) {
    for (length = kFastBits + 1; length <= 16; ++length) {
        const auto code = static_cast<int32_t>(window >> (64 - length));
        if (code <= table.MaxCode[static_cast<size_t>(length)]) {
            symbol = table.Values[static_cast<size_t>(
                code + table.ValueShift[static_cast<size_t>(length)])];
            return true;
        }
    }
    return false;
}

}  // namespace corvane::jpeg
