// The brand record: one executable serves several brands, chosen by a small data file beside
// the executable. The record gives the program its name, web address and settings key.
#pragma once

#include <string>

namespace corvane::app {

// The program's version as it appears in titles and the About box.
inline constexpr const char* kVersion = "8.2";

struct TProductInfo {
    std::string Name;
    std::string Web;
    std::string Home;  // settings key: one settings file per Home
    int Id = 1;
    bool IsMusic = true;
    bool ShowProducts = true;
};

// The one brand record of the program.
extern TProductInfo Product;

// Name, Web, Home and ShowProducts of a brand number (any unknown number is the default
// brand); Id is set to the number, IsMusic to true.
TProductInfo BrandOf(int id);

// The brand number a "pddata.dat" file selects: the length of its first line, trimmed of
// blanks and control characters; 1 when the file is missing or empty.
int ReadBrandId(const std::string& fileName);

// Fills Product from "pddata.dat" in exeDir.
void LoadBrand(const std::string& exeDir);

// Product.Name + " " + kVersion.
std::string ProductTitle();

}  // namespace corvane::app
