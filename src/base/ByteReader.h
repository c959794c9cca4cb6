// A read-only view of bytes with bounds-checked reads at offsets, in the byte order the view was
// made with (little-endian unless told): the one way the binary readers decode integers from
// device files.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace corvane {

class TByteReader {
public:
    constexpr TByteReader() = default;
    constexpr TByteReader(const uint8_t* data, size_t size, std::endian order = std::endian::little)
        : FData(data), FSize(data ? size : 0), FOrder(order) {}
    constexpr explicit TByteReader(std::span<const uint8_t> bytes,
                                   std::endian order = std::endian::little)
        : TByteReader(bytes.data(), bytes.size(), order) {}

    constexpr const uint8_t* Data() const { return FData; }
    constexpr size_t Size() const { return FSize; }
    constexpr std::endian Order() const { return FOrder; }

    // [offset, offset + count) lies inside the view. Written with a subtraction so that no sum
    // of two values from a file can wrap around.
    constexpr bool Has(size_t offset, size_t count) const {
        return offset <= FSize && count <= FSize - offset;
    }
    // Bytes from offset to the end; 0 at or past the end.
    constexpr size_t Left(size_t offset) const { return offset < FSize ? FSize - offset : 0; }

    // The first `size` bytes (all of them when the view is shorter). Offsets keep their meaning,
    // so a chunk's children can be read through a view that ends where the chunk ends.
    constexpr TByteReader Prefix(size_t size) const {
        return TByteReader(FData, size < FSize ? size : FSize, FOrder);
    }

    std::optional<uint8_t> ReadU8(size_t offset) const {
        if (!Has(offset, 1))
            return std::nullopt;
        return FData[offset];
    }
    std::optional<uint16_t> ReadU16(size_t offset) const { return Read<uint16_t>(offset); }
    std::optional<uint32_t> ReadU32(size_t offset) const { return Read<uint32_t>(offset); }
    std::optional<uint64_t> ReadU64(size_t offset) const { return Read<uint64_t>(offset); }
    std::optional<int32_t> ReadI32(size_t offset) const {
        auto value = Read<uint32_t>(offset);
        if (!value)
            return std::nullopt;
        return static_cast<int32_t>(*value);
    }

    // count bytes at offset; nothing when they do not all lie inside the view.
    std::optional<std::span<const uint8_t>> Bytes(size_t offset, size_t count) const {
        if (!Has(offset, count))
            return std::nullopt;
        return std::span<const uint8_t>(FData + offset, count);
    }

    // The bytes at offset equal tag, ignoring ASCII letter case; false when they do not fit.
    bool TagIs(size_t offset, std::string_view tag) const {
        if (!Has(offset, tag.size()))
            return false;
        for (size_t i = 0; i < tag.size(); ++i) {
            if (Lower(FData[offset + i]) != Lower(static_cast<uint8_t>(tag[i])))
                return false;
        }
        return true;
    }

private:
    template <typename T>
    std::optional<T> Read(size_t offset) const {
        if (!Has(offset, sizeof(T)))
            return std::nullopt;
        T value;
        std::memcpy(&value, FData + offset, sizeof(T));
        if (FOrder != std::endian::native)
            value = ByteSwap(value);
        return value;
    }
    template <typename T>
    static T ByteSwap(T value) {
        T result = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            result = static_cast<T>((result << 8) | (value & 0xFF));
            value = static_cast<T>(value >> 8);
        }
        return result;
    }
    static constexpr uint8_t Lower(uint8_t c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
    }

    const uint8_t* FData = nullptr;
    size_t FSize = 0;
    std::endian FOrder = std::endian::little;
};

}  // namespace corvane
