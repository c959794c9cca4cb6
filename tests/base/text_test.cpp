#include <gtest/gtest.h>

#include "base/Dispatcher.h"
#include "base/LogText.h"
#include "base/MemoryStream.h"
#include "base/Text.h"

namespace corvane {
namespace {

TEST(Text, ExtensionAndNameStopAtAnySeparator) {
    struct {
        const char* path;
        const char* ext;
        const char* name;
    } cases[] = {
        {":iPod_Control:Music:F00:ABCD.mp3", ".mp3", "ABCD.mp3"},
        {"/a.b/c", "", "c"},
        {"C:\\x.dir\\song", "", "song"},
        {"noext", "", "noext"},
        {"/x/.hidden", ".hidden", ".hidden"},
        {"IMG_0001.THM", ".THM", "IMG_0001.THM"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
        EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    }
}

TEST(Text, CaseInsensitiveComparisonsAreAsciiOnly) {
    EXPECT_TRUE(SameText("S_IFDIR", "s_ifdir"));
    EXPECT_FALSE(SameText("abc", "abd"));
    EXPECT_FALSE(SameText("\xC3\x84", "\xC3\xA4"));  // non-ASCII letters are not folded
    EXPECT_TRUE(EndsWithText("X.DaT", ".dat"));
    EXPECT_TRUE(StartsWithText("bplist00", "BPLIST"));
}

TEST(Text, ParseInt64RejectsJunkAndOverflow) {
    EXPECT_EQ(ParseInt64("1234"), 1234);
    EXPECT_EQ(ParseInt64("-5"), -5);
    EXPECT_EQ(ParseInt64("+7"), 7);
    EXPECT_EQ(ParseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_FALSE(ParseInt64("9223372036854775808"));
    EXPECT_FALSE(ParseInt64("12a"));
    EXPECT_FALSE(ParseInt64(""));
}

TEST(LogText, EveryLineFollowsALineBreak) {
    TLogText log;
    log.AddLog("one");
    log.AddLog("two");
    EXPECT_EQ(log.Text(), "\r\none\r\ntwo");
}

TEST(MemoryStream, WritesAtPositionAndReadsWhatIsLeft) {
    TMemoryStream stream;
    stream.Write("header", 6);
    stream.Write("body", 4);
    stream.Seek(2);
    stream.Write("XY", 2);
    stream.Rewind();
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 10u);
    EXPECT_EQ(std::string(buffer, 10), "heXYerbody");
    EXPECT_EQ(stream.Read(buffer, 1), 0u);
}

TEST(EventQueue, RunAndWaitRunsOnTheOwnerThread) {
    TEventQueue queue;
    std::thread::id ranOn;
    std::thread worker([&] { queue.RunAndWait([&] { ranOn = std::this_thread::get_id(); }); });
    while (queue.ProcessEvents(std::chrono::milliseconds(50)) == 0) {
    }
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace corvane
