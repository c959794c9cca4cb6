// The Huffman tables of a JPEG file as the eighth-size decoder reads them: one look-up of the
// next bits gives a DC code with its value's size, or a chain of AC codes with the bits they
// take and how far they move along a block.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace corvane::jpeg {

// Codes up to this length are found with one table look-up; longer ones (rare in practice)
// are searched length by length.
constexpr int kFastBits = 12;

// One Huffman table. Fast holds, for every value of the next kFastBits bits that starts with a
// code of at most that length, what the decoder needs of the code at once (0: look further).
struct THuffmanTable {
    bool Defined = false;
    std::array<uint32_t, 1 << kFastBits> Fast{};
    std::array<int32_t, 17> MaxCode{};     // the largest code of each length, -1 when none
    std::array<int32_t, 17> ValueShift{};  // code + ValueShift[length] indexes Values
    std::array<uint8_t, 256> Values{};
};

// A DC table's fast entry: the code length in the low byte, the size of the value after it in
// the next.
inline uint32_t DcEntry(int length, uint8_t symbol) {
    return static_cast<uint32_t>(length | ((symbol & 15) << 8));
}

// An AC table's fast entry, in fields: the bits that a code and the codes after it that are also
// whole among the bits looked at take with their values, and how far they move along the 63 AC
// positions (to the end for an end-of-block code); the same two for the first code alone; and
// how far all but the last of the codes move. Photos at high quality are mostly codes of 2 to 6
// bits with their values, so one look-up often serves two or three. The bits of all come
// lowest, as the shift that consumes them takes them.
constexpr uint32_t AcFields(uint32_t bits, uint32_t advance, uint32_t allBits, uint32_t allAdvance,
                            uint32_t leadAdvance) {
    return allBits | (allAdvance << 6) | (bits << 13) | (advance << 18) | (leadAdvance << 25);
}
constexpr uint32_t AllBits(uint32_t entry) {
    return entry & 63;
}
constexpr uint32_t AllAdvance(uint32_t entry) {
    return (entry >> 6) & 127;
}
constexpr uint32_t FirstBits(uint32_t entry) {
    return (entry >> 13) & 31;
}
constexpr uint32_t FirstAdvance(uint32_t entry) {
    return (entry >> 18) & 127;
}
constexpr uint32_t LeadAdvance(uint32_t entry) {
    return entry >> 25;
}

// The AC entry of one code alone.
inline uint32_t AcEntry(int length, uint8_t symbol) {
    const int run = symbol >> 4;
    const int size = symbol & 15;
    int advance = run + 1;
    if (size == 0)
        advance = run == 15 ? 16 : 64;
    const auto bits = static_cast<uint32_t>(length + size);
    return AcFields(bits, static_cast<uint32_t>(advance), bits, static_cast<uint32_t>(advance), 0);
}

// counts: how many codes of each length 1 to 16; symbols: the values in code order. False for
// lengths that are no prefix code.
bool BuildHuffmanTable(const uint8_t* counts, const uint8_t* symbols, bool ac,
                       THuffmanTable& table);

// The next 57 bits or more from bit position pos, at the top of the word.
inline uint64_t Window(const uint8_t* data, uint64_t pos) {
    uint64_t word;
    std::memcpy(&word, data + (pos >> 3), sizeof word);
    return __builtin_bswap64(word) << (pos & 7);
}

// A code longer than kFastBits: its symbol and length, or false for bits that are no code.
bool LongCode(const THuffmanTable& table, uint64_t window, int& length, uint8_t& symbol);

}  // namespace corvane::jpeg
