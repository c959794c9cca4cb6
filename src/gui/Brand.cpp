#include "gui/Brand.h"

#include <QRegularExpression>
#include <QString>
#include <fstream>

namespace corvane::app {

TProductInfo Product = BrandOf(1);

TProductInfo BrandOf(int id) {
    TProductInfo brand;
    brand.Id = id;
    switch (id) {
        case 2:
            brand.Name = "Brenmoor";
            brand.Web = "https://brenmoor.example.com";
            brand.Home = "BrenmoorSoft";
            break;
        case 3:
            brand.Name = "Quillet";
            brand.Web = "https://quillet.example.com";
            brand.Home = "QuilletSoft";
            brand.ShowProducts = false;
            break;
        case 4:
            brand.Name = "Dravonne";
            brand.Web = "https://dravonne.example.com";
            brand.Home = "DravonneSoft";
            brand.ShowProducts = false;
            break;
        default:
            brand.Name = "Corvane";
            brand.Web = "https://corvane.example.com";
            brand.Home = "CorvaneSoft";
            break;
    }
    return brand;
}

namespace {

// The first line of a text file. A byte-order mark chooses UTF-16 or UTF-8; without one the
// text is taken as UTF-8, the system code page of this platform. Lengths count UTF-16 units.
QString FirstLine(const std::string& bytes) {
    QString text;
    if (bytes.size() >= 2 &&
        (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
        const bool little = static_cast<unsigned char>(bytes[0]) == 0xFF;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[i + (little ? 0 : 1)]);
            const auto hi = static_cast<unsigned char>(bytes[i + (little ? 1 : 0)]);
            text.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
        }
    } else {
        const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        text =
            QString::fromUtf8(bytes.data() + start, static_cast<qsizetype>(bytes.size() - start));
    }
    const qsizetype lineEnd = text.indexOf(QRegularExpression("[\r\n]"));
    return lineEnd < 0 ? text : text.left(lineEnd);
}

}  // namespace

int ReadBrandId(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        return 1;
    // The first line is all that counts; a few KiB hold any sensible one.
    std::string bytes(4096, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(file.gcount()));
    if (bytes.empty())
        return 1;
    const QString line = FirstLine(bytes);
    // Blanks and control characters are trimmed from both ends.
    qsizetype first = 0, last = line.size();
    while (first < last && line[first].unicode() <= u' ')
        ++first;
    while (last > first && line[last - 1].unicode() <= u' ')
        --last;
    return static_cast<int>(last - first);
}

void LoadBrand(const std::string& exeDir) {
    std::string dir = exeDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    Product = BrandOf(ReadBrandId(dir + "pddata.dat"));
}

std::string ProductTitle() {
    return Product.Name + " " + kVersion;
}

}  // namespace corvane::app
