#include <gtest/gtest.h>

#include <fstream>

#include "fixtures/TempDir.h"
#include "gui/Brand.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

struct TBrandCase {
    const char* Bytes;  // file content; nullptr = no file
    int Id;
    const char* Name;
    bool ShowProducts;
};

TEST(LoadBrand, TheLengthOfTheTrimmedFirstLineChoosesTheBrand) {
    const TBrandCase cases[] = {
        {nullptr, 1, "Corvane", true},
        {"", 1, "Corvane", true},
        {"  xy \r\nmore", 2, "Brenmoor", true},
        {"abc\n", 3, "Quillet", false},
        {"\tabcd", 4, "Dravonne", false},
        {"4", 1, "Corvane", true},
        {"   \n", 0, "Corvane", true},
        {"\nsecond line", 0, "Corvane", true},
        {"abcde", 5, "Corvane", true},
        {"\xEF\xBB\xBF"
         "ab",
         2, "Brenmoor", true},
        {"\xFF\xFE"
         "a\0b\0c\0\r\0\n\0",
         3, "Quillet", false},
        {"\xFE\xFF\0a\0b", 2, "Brenmoor", true},
        {"\xC3\xA9\xC3\xA9", 2, "Brenmoor", true},  // two characters, four bytes
    };
    for (const auto& c : cases) {
        corvane::testing::TTempDir dir;
        if (c.Bytes != nullptr) {
            std::ofstream file(dir.Path() + "/pddata.dat", std::ios::binary);
            // The UTF-16 cases hold NULs: write up to the last listed byte.
            std::string bytes(c.Bytes);
            if (bytes.rfind("\xFF\xFE", 0) == 0)
                bytes.assign(c.Bytes, 12);
            else if (bytes.rfind("\xFE\xFF", 0) == 0)
                bytes.assign(c.Bytes, 6);
            file << bytes;
        }
        LoadBrand(dir.Path());
        EXPECT_EQ(Product.Id, c.Id) << (c.Bytes ? c.Bytes : "(no file)");
        EXPECT_EQ(Product.Name, c.Name);
        EXPECT_EQ(Product.ShowProducts, c.ShowProducts);
        EXPECT_TRUE(Product.IsMusic);
    }
    Product = BrandOf(1);
}

TEST(UserSettings, EachBrandKeepsItsOwnFile) {
    auto first = OpenUserKey("FirstSoftTest");
    auto second = OpenUserKey("SecondSoftTest");
    first->setValue("last", "one");
    second->setValue("last", "two");
    first->sync();
    second->sync();
    EXPECT_NE(SettingsFileName("FirstSoftTest"), SettingsFileName("SecondSoftTest"));
    EXPECT_EQ(OpenUserKey("FirstSoftTest")->value("last").toString(), "one");
    EXPECT_EQ(OpenUserKey("SecondSoftTest")->value("last").toString(), "two");
    first->clear();
    second->clear();
}

}  // namespace
}  // namespace corvane::app
