// The iPod models the program can name: model number, capacity, generation, and the picture
// formats (cover art and photos) each generation keeps in its .ithmb files. Found from the
// serial number or the model number that SysInfo and SysInfoExtended give.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// How the pixels of one picture record are laid out.
enum class TImagePixels : uint8_t {
    Rgb565Le,     // 16-bit 5-6-5, little-endian
    Rgb565Be,     // 16-bit 5-6-5, big-endian
    Rgb565Be90,   // big-endian, turned by 90 degrees
    Rgb555Le,     // 16-bit 5-5-5, little-endian
    RecRgb555Le,  // 5-5-5 as the iPhone-era cover records carry it
    Uyvy,         // interlaced 4:2:2
    I420,         // planar 4:2:0
};

// One kind of picture record a model writes.
struct TImageFormat {
    int32_t Id = 0;  // the format id of the database's mhni and of F<id>_<n>.ithmb
    int32_t Width = 0;
    int32_t Height = 0;
    TImagePixels Pixels = TImagePixels::Rgb565Le;
};

enum class TIpodGeneration : uint8_t {
    Ipod1,
    Ipod2,
    Ipod3,
    Ipod4,
    Photo,
    Mini1,
    Mini2,
    Shuffle1,
    Shuffle2,
    Shuffle3,
    Shuffle4,
    Nano1,
    Nano2,
    Nano3,
    Nano4,
    Nano5,
    Nano6,
    Video1,
    Video2,
    Classic1,
    Classic2,
    Classic3,
    Touch1,
    Touch2,
    Touch3,
    Touch4,
    Iphone1,
    Iphone3g,
    Iphone3gs,
    Iphone4,
    Ipad1,
};

struct TIpodModel {
    std::string_view Number;  // "B150": the model number without its leading letter
    uint32_t CapacityMb = 0;
    TIpodGeneration Generation = TIpodGeneration::Ipod1;
    std::string_view Color;  // "black", "U2 edition"; empty when the model has one look

    // "iPod classic 160 GB, 6th generation"
    std::string Name() const;
    bool IsShuffle() const;
    // The formats of its cover art and of its photos; empty for models without pictures.
    std::span<const TImageFormat> ArtworkFormats() const;
    std::span<const TImageFormat> PhotoFormats() const;
};

// By model number as SysInfo's ModelNumStr gives it ("xB150", "MB150" or "B150").
const TIpodModel* FindModelByNumber(std::string_view modelNumber);
// By serial number: its last three characters name the model.
const TIpodModel* FindModelBySerial(std::string_view serial);

// One of a model's formats by id; nothing when the model does not write it.
std::optional<TImageFormat> FindFormat(std::span<const TImageFormat> formats, int32_t id);

}  // namespace corvane
