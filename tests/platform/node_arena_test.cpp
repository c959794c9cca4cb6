#include "platform/NodeArena.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include "base/RecordList.h"
#include "platform/PageBuffer.h"

namespace corvane {
namespace {

struct TRecord {
    int Number = 0;
    std::string Name;
};

using TArenaList = TRecordList<TRecord, TArenaAllocator<TRecord>>;

class TTestList : public TArenaList {
public:
    void Fill(int count, const std::string& prefix) {
        for (int i = 0; i < count; ++i) {
            TRecord& record = Add();
            record.Number = i;
            record.Name = prefix + std::to_string(i);
        }
    }
    bool Holds(int count, const std::string& prefix) const {
        if (Count() != count)
            return false;
        for (int i = 0; i < count; ++i) {
            if (Items(i).Number != i || Items(i).Name != prefix + std::to_string(i))
                return false;
        }
        return true;
    }
    void PopFront() { FItems.pop_front(); }
    void Reserve(size_t bytes) { FItems.get_allocator().Arena()->Reserve(bytes); }
    void EndReserve() { FItems.get_allocator().Arena()->EndReserve(); }
};

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t total = 0;
    size_t resident = 0;
    statm >> total >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Enough records to fill several of the arena's buffers, the last ones of huge-page size.
constexpr int kMany = 200000;

TEST(NodeArena, ListsKeepTheirRecordsThroughCopiesMovesAndReuse) {
    TTestList list;
    list.Fill(kMany, "track ");
    const TRecord* first = &list.Items(0);
    ASSERT_TRUE(list.Holds(kMany, "track "));
    EXPECT_EQ(first, &list.Items(0)) << "records stay where they were added";

    // A copy has records (and an arena) of its own.
    TTestList copy = list;
    copy.Items(5).Name = "changed";
    EXPECT_EQ(list.Items(5).Name, "track 5");

    // Moved in both directions, the lists stay usable, the moved-from one too.
    TTestList moved = std::move(list);
    EXPECT_TRUE(moved.Holds(kMany, "track "));
    list.Clear();
    list.Fill(3, "again ");
    EXPECT_TRUE(list.Holds(3, "again "));
    copy = std::move(moved);
    EXPECT_EQ(copy.Items(5).Name, "track 5");

    // Released nodes are handed out again.
    copy.Clear();
    copy.Fill(kMany / 2, "reused ");
    EXPECT_TRUE(copy.Holds(kMany / 2, "reused "));
    for (int i = 0; i < 10; ++i)
        copy.PopFront();
    EXPECT_EQ(copy.Items(0).Number, 10);
}

TEST(NodeArena, ReservedRoomMappedAheadKeepsWhatIsWrittenAndStaysNearTheLastRecord) {
    {
        // Filled while the mapping thread works through the same memory.
        TTestList list;
        list.Reserve(kMany * (sizeof(TRecord) + 16));
        list.Fill(kMany, "track ");
        list.EndReserve();
        EXPECT_TRUE(list.Holds(kMany, "track "));
        list.Fill(1000, "past ");  // beyond the reservation
        EXPECT_EQ(list.Items(kMany + 999).Name, "past 999");
    }
    // A count that lied: a gibibyte announced, a few records added. Only the window past the
    // last of them is mapped, and the list goes without waiting for the rest.
    TTestList list;
    const size_t before = ResidentBytes();
    list.Reserve(size_t{1} << 30);
    list.Fill(10, "few ");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ResidentBytes() - std::min(before, ResidentBytes()), size_t{64} << 20);
    EXPECT_TRUE(list.Holds(10, "few "));
}

TEST(PageBuffer, LargeBuffersStartOnAHugePageAndAreWritableToTheEnd) {
    for (size_t size : {size_t{4096}, (size_t{2} << 20) + 1, (size_t{6} << 20) - 100}) {
        TPageBuffer buffer(size);
        ASSERT_TRUE(buffer) << size;
        ASSERT_EQ(buffer.Size(), size);
        if (size >= (size_t{2} << 20)) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.Data()) % (size_t{2} << 20), 0u) << size;
        }
        buffer.Data()[0] = 1;
        buffer.Data()[size - 1] = 2;
        EXPECT_EQ(buffer.Data()[0] + buffer.Data()[size - 1], 3);
    }
}

}  // namespace
}  // namespace corvane
