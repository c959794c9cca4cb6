#include "device/DeviceClock.h"

#include <ctime>

#include "base/ByteReader.h"
#include "platform/LocalFiles.h"

namespace corvane {
namespace {

// Seconds from 1904-01-01 to 1970-01-01.
constexpr int64_t kMacEpochOffset = 2082844800;
constexpr int32_t kMaxShift = 14 * 3600;

// The three layouts, by file size, and where each keeps its zone.
constexpr size_t kFourthGenSize = 2892;  // zone index in half hours
constexpr size_t kVideoSize = 2924;      // minutes from UTC-8
constexpr size_t kClassicSize = 2952;    // city of the world clock
constexpr size_t kLaterClassicSize = 2956;
constexpr size_t kNano4Size = 2960;
constexpr size_t kFourthGenOffset = 0xb10;
constexpr size_t kVideoOffset = 0xb22;
constexpr size_t kCityOffset = 0xb70;

struct TCity {
    uint8_t Id;
    const char* Zone;
};

// The world-clock cities of the classic and later nanos, by the id the device stores.
constexpr TCity kCities[] = {
    {0x01, "PST8PDT"},
    {0x02, "America/Chicago"},
    {0x03, "Pacific/Honolulu"},
    {0x04, "America/Anchorage"},
    {0x05, "PST8PDT"},
    {0x06, "America/Los_Angeles"},
    {0x07, "PST8PDT"},
    {0x08, "PST8PDT"},
    {0x09, "PST8PDT"},
    {0x0a, "PST8PDT"},
    {0x0b, "America/Vancouver"},
    {0x0c, "MST7MDT"},
    {0x0d, "America/Denver"},
    {0x0e, "America/Phoenix"},
    {0x0f, "MST7MDT"},
    {0x10, "CST6CDT"},
    {0x11, "CST6CDT"},
    {0x12, "America/Guatemala"},
    {0x13, "America/Managua"},
    {0x14, "CST6CDT"},
    {0x15, "America/Mexico_City"},
    {0x16, "CST6CDT"},
    {0x17, "America/Regina"},
    {0x18, "PST8PDT"},
    {0x19, "America/El_Salvador"},
    {0x1a, "CST6CDT"},
    {0x1b, "America/Tegucigalpa"},
    {0x1c, "America/Winnipeg"},
    {0x1d, "EST5EDT"},
    {0x1e, "America/Bogota"},
    {0x1f, "EST5EDT"},
    {0x20, "EST5EDT"},
    {0x21, "America/Detroit"},
    {0x22, "America/Havana"},
    {0x23, "America/Indiana/Indianapolis"},
    {0x24, "EST5EDT"},
    {0x25, "America/Lima"},
    {0x26, "Europe/London"},
    {0x27, "EST5EDT"},
    {0x28, "America/Montreal"},
    {0x29, "America/New_York"},
    {0x2a, "EST5EDT"},
    {0x2b, "America/Panama"},
    {0x2c, "EST5EDT"},
    {0x2d, "America/Port-au-Prince"},
    {0x2e, "America/Guayaquil"},
    {0x2f, "America/Toronto"},
    {0x30, "EST5EDT"},
    {0x31, "America/Asuncion"},
    {0x32, "America/Caracas"},
    {0x33, "America/Guyana"},
    {0x34, "America/Halifax"},
    {0x35, "America/La_Paz"},
    {0x36, "America/Argentina/San_Juan"},
    {0x37, "America/Santiago"},
    {0x38, "America/Santo_Domingo"},
    {0x39, "America/St_Johns"},
    {0x3a, "America/Sao_Paulo"},
    {0x3b, "America/Argentina/Buenos_Aires"},
    {0x3c, "America/Cayenne"},
    {0x3d, "America/Montevideo"},
    {0x3e, "America/Godthab"},
    {0x3f, "America/Paramaribo"},
    {0x40, "America/Recife"},
    {0x41, "Africa/Casablanca"},
    {0x42, "America/Sao_Paulo"},
    {0x43, "Atlantic/South_Georgia"},
    {0x44, "Atlantic/Azores"},
    {0x45, "Europe/Dublin"},
    {0x46, "Africa/Accra"},
    {0x47, "Africa/Bamako"},
    {0x48, "Europe/London"},
    {0x49, "Africa/Conakry"},
    {0x4a, "Africa/Dakar"},
    {0x4b, "Europe/Dublin"},
    {0x4c, "Europe/London"},
    {0x4d, "Africa/Freetown"},
    {0x4e, "Europe/Lisbon"},
    {0x4f, "Europe/London"},
    {0x50, "Africa/Monrovia"},
    {0x51, "Africa/Nouakchott"},
    {0x52, "Africa/Ouagadougou"},
    {0x53, "Atlantic/Reykjavik"},
    {0x54, "Africa/Algiers"},
    {0x55, "Europe/Amsterdam"},
    {0x56, "Africa/Bangui"},
    {0x57, "Europe/Belgrade"},
    {0x58, "Europe/Berlin"},
    {0x59, "Europe/Brussels"},
    {0x5a, "Europe/Budapest"},
    {0x5b, "Europe/Copenhagen"},
    {0x5c, "Africa/Douala"},
    {0x5d, "Europe/Paris"},
    {0x5e, "Africa/Kinshasa"},
    {0x5f, "Africa/Lagos"},
    {0x60, "Europe/Paris"},
    {0x61, "Africa/Luanda"},
    {0x62, "Europe/Madrid"},
    {0x63, "Europe/Berlin"},
    {0x64, "Africa/Ndjamena"},
    {0x65, "Europe/Oslo"},
    {0x66, "Europe/Paris"},
    {0x67, "Europe/Prague"},
    {0x68, "Africa/Casablanca"},
    {0x69, "Europe/Rome"},
    {0x6a, "Europe/Stockholm"},
    {0x6b, "Africa/Tripoli"},
    {0x6c, "Africa/Tunis"},
    {0x6d, "Europe/Vienna"},
    {0x6e, "Europe/Warsaw"},
    {0x6f, "Europe/Paris"},
    {0x70, "Europe/Zurich"},
    {0x71, "Asia/Amman"},
    {0x72, "EET"},
    {0x73, "Asia/Beirut"},
    {0x74, "Europe/Bucharest"},
    {0x75, "Africa/Cairo"},
    {0x76, "Africa/Johannesburg"},
    {0x77, "Africa/Harare"},
    {0x78, "Europe/Helsinki"},
    {0x79, "Europe/Istanbul"},
    {0x7a, "Asia/Jerusalem"},
    {0x7b, "Africa/Khartoum"},
    {0x7c, "Europe/Kiev"},
    {0x7d, "Africa/Lusaka"},
    {0x7e, "Africa/Maputo"},
    {0x7f, "Europe/Sofia"},
    {0x80, "Africa/Addis_Ababa"},
    {0x81, "Indian/Antananarivo"},
    {0x82, "Africa/Asmara"},
    {0x83, "Asia/Baghdad"},
    {0x84, "Asia/Damascus"},
    {0x85, "Africa/Dar_es_Salaam"},
    {0x86, "Africa/Djibouti"},
    {0x87, "Asia/Qatar"},
    {0x88, "Africa/Kampala"},
    {0x89, "Asia/Bahrain"},
    {0x8a, "Asia/Riyadh"},
    {0x8b, "Africa/Mogadishu"},
    {0x8c, "Europe/Moscow"},
    {0x8d, "Africa/Nairobi"},
    {0x8e, "Asia/Riyadh"},
    {0x8f, "Asia/Aden"},
    {0x90, "Europe/Moscow"},
    {0x91, "Europe/Volgograd"},
    {0x92, "Asia/Dubai"},
    {0x93, "Asia/Muscat"},
    {0x94, "Indian/Mauritius"},
    {0x96, "Asia/Karachi"},
    {0x97, "Indian/Maldives"},
    {0x98, "Asia/Samarkand"},
    {0x99, "Asia/Yekaterinburg"},
    {0x9a, "Asia/Omsk"},
    {0x9b, "Asia/Dhaka"},
    {0x9c, "Asia/Novosibirsk"},
    {0x9d, "Asia/Shanghai"},
    {0x9e, "Asia/Shanghai"},
    {0x9f, "Asia/Hong_Kong"},
    {0xa0, "Asia/Kuala_Lumpur"},
    {0xa1, "Asia/Manila"},
    {0xa2, "Australia/Perth"},
    {0xa3, "Asia/Shanghai"},
    {0xa4, "Asia/Singapore"},
    {0xa5, "Asia/Taipei"},
    {0xa6, "Asia/Shanghai"},
    {0xa7, "Asia/Ulaanbaatar"},
    {0xa8, "Australia/Darwin"},
    {0xa9, "Australia/Adelaide"},
    {0xaa, "Australia/Brisbane"},
    {0xab, "Australia/Melbourne"},
    {0xac, "Pacific/Guam"},
    {0xad, "Australia/Hobart"},
    {0xae, "Australia/Melbourne"},
    {0xaf, "Australia/Melbourne"},
    {0xb0, "Asia/Vladivostok"},
    {0xb1, "Asia/Magadan"},
    {0xb2, "Pacific/Noumea"},
    {0xb3, "Asia/Anadyr"},
    {0xb4, "Pacific/Auckland"},
    {0xb5, "America/Adak"},
    {0xb6, "Pacific/Pago_Pago"},
    {0xb7, "Asia/Tehran"},
    {0xb8, "Asia/Kabul"},
    {0xb9, "Asia/Kolkata"},
    {0xba, "Asia/Colombo"},
    {0xbb, "Asia/Kolkata"},
    {0xbc, "Asia/Kolkata"},
    {0xbd, "Asia/Kolkata"},
    {0xbe, "Asia/Kathmandu"},
    {0xbf, "Asia/Tokyo"},
    {0xc0, "Asia/Pyongyang"},
    {0xc1, "Asia/Seoul"},
    {0xc2, "Asia/Tokyo"},
    {0xc3, "Asia/Yakutsk"},
    {0xc4, "Europe/Athens"},
    {0xc5, "Asia/Rangoon"},
    {0xc6, "Asia/Ho_Chi_Minh"},
    {0xc7, "CST6CDT"},
    {0xc8, "Asia/Bangkok"},
    {0xc9, "Asia/Ho_Chi_Minh"},
    {0xca, "Asia/Jakarta"},
    {0xcb, "Asia/Krasnoyarsk"},
    {0xcc, "Asia/Kuwait"},
    {0xcd, "Asia/Phnom_Penh"},
};

std::optional<int32_t> FourthGenShift(int16_t raw) {
    // 0..48: half-hour steps from UTC-12.5, the odd ones with daylight saving on.
    if (raw < 0 || raw > 48)
        return std::nullopt;
    const int value = raw - 0x19;
    int32_t shift = (value >> 1) * 3600;  // floor, for the zones west of UTC
    if ((value & 1) != 0)
        shift += 3600;
    return shift;
}

std::optional<int32_t> CityShift(int16_t city) {
    for (const TCity& entry : kCities) {
        if (entry.Id == city)
            return ZoneOffsetNow(entry.Zone);
    }
    return std::nullopt;
}

int32_t BigEndian32(const uint8_t* at) {
    return static_cast<int32_t>((uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) |
                                (uint32_t{at[2]} << 8) | uint32_t{at[3]});
}

}  // namespace

std::optional<int32_t> ClockShiftFromPreferences(std::span<const uint8_t> preferences) {
    const TByteReader bytes(preferences);
    std::optional<int32_t> shift;
    switch (preferences.size()) {
        case kFourthGenSize:
            if (auto raw = bytes.ReadU16(kFourthGenOffset))
                shift = FourthGenShift(static_cast<int16_t>(*raw));
            break;
        case kVideoSize:
            if (auto raw = bytes.ReadU16(kVideoOffset))
                shift = static_cast<int16_t>(*raw) * 60 - 8 * 3600;
            break;
        case kClassicSize:
        case kLaterClassicSize:
        case kNano4Size:
            if (auto raw = bytes.ReadU16(kCityOffset))
                shift = CityShift(static_cast<int16_t>(*raw));
            break;
        default:
            break;
    }
    if (shift && (*shift < -kMaxShift || *shift > kMaxShift))
        return std::nullopt;
    return shift;
}

int32_t LocalClockShift() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(local.tm_gmtoff);
}

std::optional<int32_t> ZoneOffsetNow(const std::string& zone, const std::string& zoneinfoDir) {
    // A TZif file of the system is a few kilobytes; its first (32-bit) block is enough for the
    // offset of today.
    constexpr size_t kMaxZoneFile = 1 << 20;
    constexpr size_t kHeader = 44;
    const std::optional<std::string> file = ReadLocalFile(zoneinfoDir + "/" + zone, kMaxZoneFile);
    if (!file || file->size() < kHeader || file->compare(0, 4, "TZif") != 0)
        return std::nullopt;
    const auto* data = reinterpret_cast<const uint8_t*>(file->data());
    const auto count = [&](size_t at) { return static_cast<uint32_t>(BigEndian32(data + at)); };
    const uint32_t transitions = count(32);
    const uint32_t types = count(36);
    const uint64_t need = kHeader + uint64_t{transitions} * 5 + uint64_t{types} * 6;
    if (types == 0 || need > file->size())
        return std::nullopt;
    const uint8_t* times = data + kHeader;
    const uint8_t* indexes = times + size_t{transitions} * 4;
    const uint8_t* infos = indexes + transitions;
    const int64_t now = std::time(nullptr);
    uint32_t type = 0;
    for (uint32_t i = 0; i < transitions && BigEndian32(times + size_t{i} * 4) <= now; ++i)
        type = indexes[i];
    if (type >= types)
        return std::nullopt;
    return BigEndian32(infos + size_t{type} * 6);
}

int64_t MacTimeToUnix(uint32_t macTime, int32_t clockShift) {
    if (macTime == 0)
        return 0;
    return int64_t{macTime} - kMacEpochOffset - clockShift;
}

}  // namespace corvane
