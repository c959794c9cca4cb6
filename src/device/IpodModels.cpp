// The model table: every model number with its capacity, generation and look, the serial-number
// codes that name a model, and the picture formats of each generation.
#include <algorithm>
#include <array>

#include "base/Text.h"
#include "device/IpodModels.h"

namespace corvane {
namespace {

using G = TIpodGeneration;
using P = TImagePixels;

struct TGenerationInfo {
    G Generation;
    std::string_view Family;   // "iPod nano"
    std::string_view Edition;  // "4th generation"; empty for phones and tablets
    std::span<const TImageFormat> Artwork;
    std::span<const TImageFormat> Photos;
};

// Picture formats by generation group.
constexpr TImageFormat kPhotoArt[] = {{1017, 56, 56, P::Rgb565Le}, {1016, 140, 140, P::Rgb565Le}};
constexpr TImageFormat kPhotoPhotos[] = {{1009, 42, 30, P::Rgb565Le},
                                         {1015, 130, 88, P::Rgb565Le},
                                         {1013, 220, 176, P::Rgb565Be90},
                                         {1019, 720, 480, P::Uyvy}};
constexpr TImageFormat kNanoArt[] = {{1031, 42, 42, P::Rgb565Le}, {1027, 100, 100, P::Rgb565Le}};
constexpr TImageFormat kNanoPhotos[] = {{1032, 42, 37, P::Rgb565Le}, {1023, 176, 132, P::Rgb565Be}};
constexpr TImageFormat kVideoArt[] = {{1028, 100, 100, P::Rgb565Le}, {1029, 200, 200, P::Rgb565Le}};
constexpr TImageFormat kVideoPhotos[] = {{1036, 50, 41, P::Rgb565Le},
                                         {1015, 130, 88, P::Rgb565Le},
                                         {1024, 320, 240, P::Rgb565Le},
                                         {1019, 720, 480, P::Uyvy}};
// The classic's formats, which the third nano shares.
constexpr TImageFormat kClassicArt[] = {{1061, 56, 56, P::Rgb565Le},
                                        {1055, 128, 128, P::Rgb565Le},
                                        {1068, 128, 128, P::Rgb565Le},
                                        {1060, 320, 320, P::Rgb565Le}};
constexpr TImageFormat kClassicPhotos[] = {
    {1067, 720, 480, P::I420}, {1024, 320, 240, P::Rgb565Le}, {1066, 64, 64, P::Rgb565Le}};
constexpr TImageFormat kNano4Art[] = {{1055, 128, 128, P::Rgb565Le}, {1068, 128, 128, P::Rgb565Le},
                                      {1071, 240, 240, P::Rgb565Le}, {1074, 50, 50, P::Rgb565Le},
                                      {1078, 80, 80, P::Rgb565Le},   {1084, 240, 240, P::Rgb565Le}};
constexpr TImageFormat kNano4Photos[] = {{1024, 320, 240, P::Rgb565Le},
                                         {1066, 64, 64, P::Rgb565Le},
                                         {1079, 80, 80, P::Rgb565Le},
                                         {1083, 240, 320, P::Rgb565Le}};
constexpr TImageFormat kNano5Art[] = {{1056, 128, 128, P::Rgb565Le},
                                      {1078, 80, 80, P::Rgb565Le},
                                      {1073, 240, 240, P::Rgb565Le},
                                      {1074, 50, 50, P::Rgb565Le}};
constexpr TImageFormat kNano5Photos[] = {
    {1087, 384, 384, P::Rgb565Le}, {1079, 80, 80, P::Rgb565Le}, {1066, 64, 64, P::Rgb565Le}};
constexpr TImageFormat kTouchArt[] = {
    {3001, 256, 256, P::RecRgb555Le}, {3002, 128, 128, P::RecRgb555Le},
    {3003, 64, 64, P::RecRgb555Le},   {3005, 320, 320, P::Rgb555Le},
    {3006, 56, 56, P::Rgb555Le},      {3007, 88, 88, P::Rgb555Le}};
constexpr TImageFormat kTouchPhotos[] = {{3004, 56, 55, P::Rgb555Le},
                                         {3011, 80, 79, P::Rgb555Le},
                                         {3009, 160, 120, P::Rgb555Le},
                                         {3008, 640, 480, P::Rgb555Le}};

constexpr TGenerationInfo kGenerations[] = {
    {G::Ipod1, "iPod", "1st generation", {}, {}},
    {G::Ipod2, "iPod", "2nd generation", {}, {}},
    {G::Ipod3, "iPod", "3rd generation", {}, {}},
    {G::Ipod4, "iPod", "4th generation", {}, {}},
    {G::Photo, "iPod photo", "4th generation", kPhotoArt, kPhotoPhotos},
    {G::Mini1, "iPod mini", "1st generation", {}, {}},
    {G::Mini2, "iPod mini", "2nd generation", {}, {}},
    {G::Shuffle1, "iPod shuffle", "1st generation", {}, {}},
    {G::Shuffle2, "iPod shuffle", "2nd generation", {}, {}},
    {G::Shuffle3, "iPod shuffle", "3rd generation", {}, {}},
    {G::Shuffle4, "iPod shuffle", "4th generation", {}, {}},
    {G::Nano1, "iPod nano", "1st generation", kNanoArt, kNanoPhotos},
    {G::Nano2, "iPod nano", "2nd generation", kNanoArt, kNanoPhotos},
    {G::Nano3, "iPod nano", "3rd generation", kClassicArt, kClassicPhotos},
    {G::Nano4, "iPod nano", "4th generation", kNano4Art, kNano4Photos},
    {G::Nano5, "iPod nano", "5th generation", kNano5Art, kNano5Photos},
    {G::Nano6, "iPod nano", "6th generation", {}, {}},
    {G::Video1, "iPod video", "5th generation", kVideoArt, kVideoPhotos},
    {G::Video2, "iPod video", "5th generation, late 2006", kVideoArt, kVideoPhotos},
    {G::Classic1, "iPod classic", "6th generation", kClassicArt, kClassicPhotos},
    {G::Classic2, "iPod classic", "6th generation, 2008", kClassicArt, kClassicPhotos},
    {G::Classic3, "iPod classic", "6th generation, late 2009", kClassicArt, kClassicPhotos},
    {G::Touch1, "iPod touch", "1st generation", kTouchArt, kTouchPhotos},
    {G::Touch2, "iPod touch", "2nd generation", kTouchArt, kTouchPhotos},
    {G::Touch3, "iPod touch", "3rd generation", kTouchArt, kTouchPhotos},
    {G::Touch4, "iPod touch", "4th generation", {}, {}},
    {G::Iphone1, "iPhone", "", kTouchArt, kTouchPhotos},
    {G::Iphone3g, "iPhone 3G", "", kTouchArt, kTouchPhotos},
    {G::Iphone3gs, "iPhone 3GS", "", kTouchArt, kTouchPhotos},
    {G::Iphone4, "iPhone 4", "", {}, {}},
    {G::Ipad1, "iPad", "", {}, {}},
};

constexpr TIpodModel kModels[] = {
    {"8513", 5120, G::Ipod1, ""},
    {"8541", 5120, G::Ipod1, ""},
    {"8697", 5120, G::Ipod1, ""},
    {"8709", 10240, G::Ipod1, ""},
    {"8737", 10240, G::Ipod2, ""},
    {"8740", 10240, G::Ipod2, ""},
    {"8738", 20480, G::Ipod2, ""},
    {"8741", 20480, G::Ipod2, ""},
    {"8976", 10240, G::Ipod3, ""},
    {"8946", 15360, G::Ipod3, ""},
    {"9460", 15360, G::Ipod3, ""},
    {"9244", 20480, G::Ipod3, ""},
    {"8948", 30720, G::Ipod3, ""},
    {"9245", 40960, G::Ipod3, ""},
    {"9282", 20480, G::Ipod4, ""},
    {"9787", 25600, G::Ipod4, "U2 edition"},
    {"9268", 40960, G::Ipod4, ""},
    {"9160", 4096, G::Mini1, ""},
    {"9436", 4096, G::Mini1, "blue"},
    {"9435", 4096, G::Mini1, "pink"},
    {"9434", 4096, G::Mini1, "green"},
    {"9437", 4096, G::Mini1, "gold"},
    {"9800", 4096, G::Mini2, ""},
    {"9802", 4096, G::Mini2, "blue"},
    {"9804", 4096, G::Mini2, "pink"},
    {"9806", 4096, G::Mini2, "green"},
    {"9801", 6144, G::Mini2, ""},
    {"9803", 6144, G::Mini2, "blue"},
    {"9805", 6144, G::Mini2, "pink"},
    {"9807", 6144, G::Mini2, "green"},
    {"A079", 20480, G::Photo, ""},
    {"A127", 20480, G::Photo, "U2 edition"},
    {"9829", 30720, G::Photo, ""},
    {"9585", 40960, G::Photo, ""},
    {"9830", 61440, G::Photo, ""},
    {"9586", 61440, G::Photo, ""},
    {"9724", 512, G::Shuffle1, ""},
    {"9725", 1024, G::Shuffle1, ""},
    {"A546", 1024, G::Shuffle2, "silver"},
    {"A947", 1024, G::Shuffle2, "pink"},
    {"A949", 1024, G::Shuffle2, "blue"},
    {"A951", 1024, G::Shuffle2, "green"},
    {"A953", 1024, G::Shuffle2, "orange"},
    {"C167", 1024, G::Shuffle2, "gold"},
    {"B225", 1024, G::Shuffle2, "silver"},
    {"B233", 1024, G::Shuffle2, "purple"},
    {"B231", 1024, G::Shuffle2, "red"},
    {"B227", 1024, G::Shuffle2, "blue"},
    {"B228", 1024, G::Shuffle2, "blue"},
    {"B229", 1024, G::Shuffle2, "green"},
    {"B518", 2048, G::Shuffle2, "silver"},
    {"B520", 2048, G::Shuffle2, "blue"},
    {"B522", 2048, G::Shuffle2, "green"},
    {"B524", 2048, G::Shuffle2, "red"},
    {"B526", 2048, G::Shuffle2, "purple"},
    {"C306", 2048, G::Shuffle3, "silver"},
    {"C323", 2048, G::Shuffle3, "black"},
    {"C381", 2048, G::Shuffle3, "green"},
    {"C384", 2048, G::Shuffle3, "blue"},
    {"C387", 2048, G::Shuffle3, "pink"},
    {"B867", 4096, G::Shuffle3, "silver"},
    {"C164", 4096, G::Shuffle3, "black"},
    {"C303", 4096, G::Shuffle3, "stainless"},
    {"C307", 4096, G::Shuffle3, "green"},
    {"C328", 4096, G::Shuffle3, "blue"},
    {"C331", 4096, G::Shuffle3, "pink"},
    {"C584", 2048, G::Shuffle4, "silver"},
    {"C585", 2048, G::Shuffle4, "pink"},
    {"C749", 2048, G::Shuffle4, "orange"},
    {"C750", 2048, G::Shuffle4, "green"},
    {"C751", 2048, G::Shuffle4, "blue"},
    {"A350", 1024, G::Nano1, "white"},
    {"A352", 1024, G::Nano1, "black"},
    {"A004", 2048, G::Nano1, "white"},
    {"A099", 2048, G::Nano1, "black"},
    {"A005", 4096, G::Nano1, "white"},
    {"A107", 4096, G::Nano1, "black"},
    {"A002", 30720, G::Video1, "white"},
    {"A146", 30720, G::Video1, "black"},
    {"A003", 61440, G::Video1, "white"},
    {"A147", 61440, G::Video1, "black"},
    {"A452", 30720, G::Video1, "U2 edition"},
    {"A444", 30720, G::Video2, "white"},
    {"A446", 30720, G::Video2, "black"},
    {"A664", 30720, G::Video2, "U2 edition"},
    {"A448", 81920, G::Video2, "white"},
    {"A450", 81920, G::Video2, "black"},
    {"A477", 2048, G::Nano2, "silver"},
    {"A426", 4096, G::Nano2, "silver"},
    {"A428", 4096, G::Nano2, "blue"},
    {"A487", 4096, G::Nano2, "green"},
    {"A489", 4096, G::Nano2, "pink"},
    {"A725", 4096, G::Nano2, "red"},
    {"A726", 8192, G::Nano2, "red"},
    {"A497", 8192, G::Nano2, "black"},
    {"E436", 40960, G::Ipod4, ""},
    {"S492", 30720, G::Photo, ""},
    {"B029", 81920, G::Classic1, "silver"},
    {"B147", 81920, G::Classic1, "black"},
    {"B145", 163840, G::Classic1, "silver"},
    {"B150", 163840, G::Classic1, "black"},
    {"B562", 122880, G::Classic2, "silver"},
    {"B565", 122880, G::Classic2, "black"},
    {"C293", 163840, G::Classic3, "silver"},
    {"C297", 163840, G::Classic3, "black"},
    {"A978", 4096, G::Nano3, "silver"},
    {"A980", 8192, G::Nano3, "silver"},
    {"B261", 8192, G::Nano3, "black"},
    {"B249", 8192, G::Nano3, "blue"},
    {"B253", 8192, G::Nano3, "green"},
    {"B257", 8192, G::Nano3, "red"},
    {"B480", 4096, G::Nano4, "silver"},
    {"B651", 4096, G::Nano4, "blue"},
    {"B654", 4096, G::Nano4, "pink"},
    {"B657", 4096, G::Nano4, "purple"},
    {"B660", 4096, G::Nano4, "orange"},
    {"B663", 4096, G::Nano4, "green"},
    {"B666", 4096, G::Nano4, "yellow"},
    {"B598", 8192, G::Nano4, "silver"},
    {"B732", 8192, G::Nano4, "blue"},
    {"B735", 8192, G::Nano4, "pink"},
    {"B739", 8192, G::Nano4, "purple"},
    {"B742", 8192, G::Nano4, "orange"},
    {"B745", 8192, G::Nano4, "green"},
    {"B748", 8192, G::Nano4, "yellow"},
    {"B751", 8192, G::Nano4, "red"},
    {"B754", 8192, G::Nano4, "black"},
    {"B903", 16384, G::Nano4, "silver"},
    {"B905", 16384, G::Nano4, "blue"},
    {"B907", 16384, G::Nano4, "pink"},
    {"B909", 16384, G::Nano4, "purple"},
    {"B911", 16384, G::Nano4, "orange"},
    {"B913", 16384, G::Nano4, "green"},
    {"B915", 16384, G::Nano4, "yellow"},
    {"B917", 16384, G::Nano4, "red"},
    {"B918", 16384, G::Nano4, "black"},
    {"C027", 8192, G::Nano5, "silver"},
    {"C031", 8192, G::Nano5, "black"},
    {"C034", 8192, G::Nano5, "purple"},
    {"C037", 8192, G::Nano5, "blue"},
    {"C040", 8192, G::Nano5, "green"},
    {"C043", 8192, G::Nano5, "yellow"},
    {"C046", 8192, G::Nano5, "orange"},
    {"C049", 8192, G::Nano5, "red"},
    {"C050", 8192, G::Nano5, "pink"},
    {"C060", 16384, G::Nano5, "silver"},
    {"C062", 16384, G::Nano5, "black"},
    {"C064", 16384, G::Nano5, "purple"},
    {"C066", 16384, G::Nano5, "blue"},
    {"C068", 16384, G::Nano5, "green"},
    {"C070", 16384, G::Nano5, "yellow"},
    {"C072", 16384, G::Nano5, "orange"},
    {"C074", 16384, G::Nano5, "red"},
    {"C075", 16384, G::Nano5, "pink"},
    {"C525", 8192, G::Nano6, "silver"},
    {"C688", 8192, G::Nano6, "black"},
    {"C689", 8192, G::Nano6, "blue"},
    {"C690", 8192, G::Nano6, "green"},
    {"C691", 8192, G::Nano6, "orange"},
    {"C692", 8192, G::Nano6, "pink"},
    {"C693", 8192, G::Nano6, "red"},
    {"C526", 16384, G::Nano6, "silver"},
    {"C694", 16384, G::Nano6, "black"},
    {"C695", 16384, G::Nano6, "blue"},
    {"C696", 16384, G::Nano6, "green"},
    {"C697", 16384, G::Nano6, "orange"},
    {"C698", 16384, G::Nano6, "pink"},
    {"C699", 16384, G::Nano6, "red"},
    {"A623", 8192, G::Touch1, "silver"},
    {"A627", 16384, G::Touch1, "silver"},
    {"B376", 32768, G::Touch1, "silver"},
    {"B528", 8192, G::Touch2, "silver"},
    {"B531", 16384, G::Touch2, "silver"},
    {"B533", 32768, G::Touch2, "silver"},
    {"C086", 8192, G::Touch2, "silver"},
    {"C008", 32768, G::Touch3, "silver"},
    {"C011", 65536, G::Touch3, "silver"},
    {"C540", 8192, G::Touch4, "silver"},
    {"C544", 32768, G::Touch4, "silver"},
    {"C547", 65536, G::Touch4, "silver"},
    {"A501", 4096, G::Iphone1, ""},
    {"A712", 8192, G::Iphone1, ""},
    {"B384", 16384, G::Iphone1, ""},
    {"B046", 8192, G::Iphone3g, "black"},
    {"B500", 16384, G::Iphone3g, "white"},
    {"B048", 16384, G::Iphone3g, "black"},
    {"B496", 16384, G::Iphone3g, "black"},
    {"C131", 16384, G::Iphone3gs, "black"},
    {"C133", 32768, G::Iphone3gs, "black"},
    {"C134", 32768, G::Iphone3gs, "white"},
    {"C603", 16384, G::Iphone4, "black"},
    {"C605", 32768, G::Iphone4, "black"},
    {"B292", 16384, G::Ipad1, ""},
    {"B293", 32768, G::Ipad1, ""},
    {"B294", 65536, G::Ipad1, ""},
    {"C349", 16384, G::Ipad1, ""},
    {"C496", 32768, G::Ipad1, ""},
    {"C497", 65536, G::Ipad1, ""},
};

struct TSerialCode {
    std::string_view Code;  // the serial number's last three characters
    std::string_view Number;
};

constexpr TSerialCode kSerialCodes[] = {
    {"LG6", "8541"}, {"NAM", "8541"}, {"MJ2", "8541"}, {"ML1", "8709"}, {"MME", "8709"},
    {"MMB", "8737"}, {"MMC", "8738"}, {"NGE", "8740"}, {"NGH", "8740"}, {"MMF", "8741"},
    {"NLW", "8946"}, {"NRH", "8976"}, {"QQF", "9460"}, {"PQ5", "9244"}, {"PNT", "9244"},
    {"NLY", "8948"}, {"NM7", "8948"}, {"PNU", "9245"}, {"PS9", "9282"}, {"Q8U", "9282"},
    {"V9V", "9787"}, {"S2X", "9787"}, {"PQ7", "9268"}, {"TDU", "A079"}, {"TDS", "A079"},
    {"TM2", "A127"}, {"SAZ", "9830"}, {"SB1", "9830"}, {"SAY", "9829"}, {"R5Q", "9585"},
    {"R5R", "9586"}, {"R5T", "9586"}, {"PFW", "9160"}, {"PRC", "9160"}, {"QKL", "9436"},
    {"QKQ", "9436"}, {"QKK", "9435"}, {"QKP", "9435"}, {"QKJ", "9434"}, {"QKN", "9434"},
    {"QKM", "9437"}, {"QKR", "9437"}, {"S41", "9800"}, {"S4C", "9800"}, {"S43", "9802"},
    {"S45", "9804"}, {"S47", "9806"}, {"S4J", "9806"}, {"S42", "9801"}, {"S44", "9803"},
    {"S48", "9807"}, {"RS9", "9724"}, {"QGV", "9724"}, {"TSX", "9724"}, {"PFV", "9724"},
    {"R80", "9724"}, {"RSA", "9725"}, {"TSY", "9725"}, {"C60", "9725"}, {"VTE", "A546"},
    {"VTF", "A546"}, {"XQ5", "A947"}, {"XQS", "A947"}, {"XQV", "A949"}, {"XQX", "A949"},
    {"YX7", "A949"}, {"XQY", "A951"}, {"YX8", "A951"}, {"XR1", "A953"}, {"YXA", "B233"},
    {"YX6", "B225"}, {"YX7", "B228"}, {"YX9", "B225"}, {"8CQ", "C167"}, {"1ZH", "B518"},
    {"UNA", "A350"}, {"UNB", "A350"}, {"UPR", "A352"}, {"UPS", "A352"}, {"SZB", "A004"},
    {"SZV", "A004"}, {"SZW", "A004"}, {"SZC", "A005"}, {"SZT", "A005"}, {"TJT", "A099"},
    {"TJU", "A099"}, {"TK2", "A107"}, {"TK3", "A107"}, {"VQ5", "A477"}, {"VQ6", "A477"},
    {"V8T", "A426"}, {"V8U", "A426"}, {"V8W", "A428"}, {"V8X", "A428"}, {"VQH", "A487"},
    {"VQJ", "A487"}, {"VQK", "A489"}, {"VKL", "A489"}, {"WL2", "A725"}, {"WL3", "A725"},
    {"X9A", "A726"}, {"X9B", "A726"}, {"VQT", "A497"}, {"VQU", "A497"}, {"Y0P", "A978"},
    {"Y0R", "A980"}, {"YXR", "B249"}, {"YXV", "B257"}, {"YXT", "B253"}, {"YXX", "B261"},
    {"SZ9", "A002"}, {"WEC", "A002"}, {"WED", "A002"}, {"WEG", "A002"}, {"WEH", "A002"},
    {"WEL", "A002"}, {"TXK", "A146"}, {"TXM", "A146"}, {"WEE", "A146"}, {"WEF", "A146"},
    {"WEJ", "A146"}, {"WEK", "A146"}, {"SZA", "A003"}, {"SZU", "A003"}, {"TXL", "A147"},
    {"TXN", "A147"}, {"V9K", "A444"}, {"V9L", "A444"}, {"WU9", "A444"}, {"VQM", "A446"},
    {"V9M", "A446"}, {"V9N", "A446"}, {"WEE", "A446"}, {"V9P", "A448"}, {"V9Q", "A448"},
    {"V9R", "A450"}, {"V9S", "A450"}, {"V95", "A450"}, {"V96", "A450"}, {"WUC", "A450"},
    {"W9G", "A664"}, {"Y5N", "B029"}, {"YMV", "B147"}, {"YMU", "B145"}, {"YMX", "B150"},
    {"2C5", "B562"}, {"2C7", "B565"}, {"9ZS", "C293"}, {"9ZU", "C297"}, {"37P", "B663"},
    {"37Q", "B666"}, {"37H", "B654"}, {"1P1", "B480"}, {"37K", "B657"}, {"37L", "B660"},
    {"2ME", "B598"}, {"3QS", "B732"}, {"3QT", "B735"}, {"3QU", "B739"}, {"3QW", "B742"},
    {"3QX", "B745"}, {"3QY", "B748"}, {"3R0", "B754"}, {"3QZ", "B751"}, {"5B7", "B903"},
    {"5B8", "B905"}, {"5B9", "B907"}, {"5BA", "B909"}, {"5BB", "B911"}, {"5BC", "B913"},
    {"5BD", "B915"}, {"5BE", "B917"}, {"5BF", "B918"}, {"71V", "C027"}, {"71Y", "C031"},
    {"721", "C034"}, {"726", "C037"}, {"72A", "C040"}, {"72F", "C046"}, {"72K", "C049"},
    {"72L", "C050"}, {"72Q", "C060"}, {"72R", "C062"}, {"72S", "C064"}, {"72X", "C066"},
    {"734", "C068"}, {"738", "C070"}, {"739", "C072"}, {"73A", "C074"}, {"73B", "C075"},
    {"CMN", "C525"}, {"DVX", "C688"}, {"DVY", "C689"}, {"DW0", "C690"}, {"DW1", "C691"},
    {"DW2", "C692"}, {"DW3", "C693"}, {"CMP", "C526"}, {"DW4", "C694"}, {"DW5", "C695"},
    {"DW6", "C696"}, {"DW7", "C697"}, {"DW8", "C698"}, {"DW9", "C699"}, {"A1S", "C306"},
    {"A78", "C323"}, {"ALB", "C381"}, {"ALD", "C384"}, {"ALG", "C387"}, {"4NZ", "B867"},
    {"891", "C164"}, {"A1L", "C303"}, {"A1U", "C307"}, {"A7B", "C328"}, {"A7D", "C331"},
    {"CMJ", "C584"}, {"CMK", "C585"}, {"FDM", "C749"}, {"FDN", "C750"}, {"FDP", "C751"},
    {"W4N", "A623"}, {"W4T", "A627"}, {"0JW", "B376"}, {"201", "B528"}, {"203", "B531"},
    {"75J", "C086"}, {"6K2", "C008"}, {"6K4", "C011"}, {"CP7", "C540"}, {"CP9", "C544"},
    {"CPC", "C547"}, {"VR0", "A501"}, {"WH8", "A712"}, {"0KH", "B384"}, {"Y7H", "B046"},
    {"Y7K", "B496"}, {"3NP", "C131"}, {"3NR", "C133"}, {"3NS", "C134"}, {"A4S", "C603"},
    {"A4T", "C605"}, {"Z38", "B292"}, {"Z39", "B293"}, {"Z3A", "B294"},
};

const TGenerationInfo& Info(G generation) {
    return kGenerations[static_cast<size_t>(generation)];
}

}  // namespace

std::string TIpodModel::Name() const {
    const TGenerationInfo& info = Info(Generation);
    // Appended piece by piece: GCC 12 at -O3 warns falsely about " " + std::to_string(...).
    std::string name(info.Family);
    name += ' ';
    name += std::to_string(CapacityMb >= 1024 ? CapacityMb / 1024 : CapacityMb);
    name += CapacityMb >= 1024 ? " GB" : " MB";
    if (!info.Edition.empty()) {
        name += ", ";
        name += info.Edition;
    }
    return name;
}

bool TIpodModel::IsShuffle() const {
    return Generation >= G::Shuffle1 && Generation <= G::Shuffle4;
}

std::span<const TImageFormat> TIpodModel::ArtworkFormats() const {
    return Info(Generation).Artwork;
}

std::span<const TImageFormat> TIpodModel::PhotoFormats() const {
    return Info(Generation).Photos;
}

const TIpodModel* FindModelByNumber(std::string_view modelNumber) {
    std::string number = AsciiUpper(Trim(std::string(modelNumber)));
    // The leading letter tells the region or the kind of unit, not the model.
    if (!number.empty() && number.front() >= 'A' && number.front() <= 'Z' && number.size() > 4)
        number.erase(0, 1);
    if (number.size() > 4)
        number.resize(4);  // a trailing region code ("B150LL/A")
    for (const TIpodModel& model : kModels) {
        if (model.Number == number)
            return &model;
    }
    return nullptr;
}

const TIpodModel* FindModelBySerial(std::string_view serial) {
    std::string text = AsciiUpper(Trim(std::string(serial)));
    if (text.size() < 3)
        return nullptr;
    const std::string_view code = std::string_view(text).substr(text.size() - 3);
    for (const TSerialCode& entry : kSerialCodes) {
        if (entry.Code == code)
            return FindModelByNumber(entry.Number);
    }
    return nullptr;
}

std::optional<TImageFormat> FindFormat(std::span<const TImageFormat> formats, int32_t id) {
    auto found = std::find_if(formats.begin(), formats.end(),
                              [id](const TImageFormat& format) { return format.Id == id; });
    if (found == formats.end())
        return std::nullopt;
    return *found;
}

}  // namespace corvane
