// The photo library's collections keep their counts whatever order items are ticked in.
#include <gtest/gtest.h>

#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

// A photo as the readers append it: ticked and counted, its size not.
void AddRead(TPhotoList& photos, uint32_t id, int32_t size) {
    TPhotoItem& photo = photos.Add();
    photo.ImageId = id;
    photo.FullSize = size;
    photo.Checked = true;
    ++photos.CheckedCount;
}

TEST(PhotoModel, TickingKeepsCountAndSize) {
    TPhotoList photos;
    AddRead(photos, 1, 500);
    AddRead(photos, 2, 700);

    // Ticking a ticked photo changes nothing, nor does unticking an unticked one.
    photos.Check(0);
    EXPECT_EQ(photos.CheckedCount, 2);
    EXPECT_EQ(photos.CheckedSize, 0);

    photos.Uncheck(0);
    photos.Uncheck(0);
    EXPECT_EQ(photos.CheckedCount, 1);
    EXPECT_EQ(photos.CheckedSize, -500);
    photos.Check(0);
    photos.Check(0);
    EXPECT_EQ(photos.CheckedCount, 2);
    EXPECT_EQ(photos.CheckedSize, 0);

    // A photo ticked by hand adds its size.
    photos.Uncheck(1);
    photos.Uncheck(0);
    photos.Check(1);
    EXPECT_EQ(photos.CheckedCount, 1);
    EXPECT_EQ(photos.CheckedSize, -500);
}

TEST(PhotoModel, RemovingTheLastPhotoTakesItsTick) {
    TPhotoList photos;
    AddRead(photos, 1, 10);
    AddRead(photos, 2, 20);
    photos.Uncheck(1);
    photos.RemoveLast();
    EXPECT_EQ(photos.Count(), 1);
    EXPECT_EQ(photos.CheckedCount, 1);
    photos.RemoveLast();
    EXPECT_EQ(photos.CheckedCount, 0);
    photos.RemoveLast();
    EXPECT_EQ(photos.Count(), 0);
    EXPECT_EQ(photos.CheckedCount, 0);

    AddRead(photos, 3, 30);
    photos.Check(0);
    photos.Clear();
    EXPECT_EQ(photos.CheckedCount, 0);
    EXPECT_EQ(photos.CheckedSize, 0);
}

TEST(PhotoModel, FirstIndexByImageIdKeepsTheFirstOfEachId) {
    TPhotoList photos;
    for (uint32_t id : {5u, 6u, 5u, 7u, 6u})
        AddRead(photos, id, 0);
    auto index = photos.FirstIndexByImageId();
    EXPECT_EQ(index.size(), 3u);
    EXPECT_EQ(index.at(5), 0);
    EXPECT_EQ(index.at(6), 1);
    EXPECT_EQ(index.at(7), 3);
}

TEST(PhotoModel, CameraRollTicks) {
    TCamPhotoList camera;
    camera.Add().Path = "/DCIM/100APPLE/IMG_0001.JPG";
    camera.Add();
    EXPECT_FALSE(camera.Items(0).Checked);
    camera.Check(0);
    camera.Check(0);
    camera.Check(1);
    EXPECT_EQ(camera.CheckedCount, 2);
    camera.Uncheck(1);
    camera.Uncheck(1);
    EXPECT_EQ(camera.CheckedCount, 1);
    EXPECT_TRUE(camera.Items(0).Checked);
    camera.Clear();
    EXPECT_EQ(camera.CheckedCount, 0);
    EXPECT_EQ(camera.Count(), 0);
}

}  // namespace
}  // namespace corvane
