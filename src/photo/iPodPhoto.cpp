#include "photo/iPodPhoto.h"

namespace corvane {

void TPhotoList::Check(int index) {
    TPhotoItem& item = FItems[index];
    if (item.Checked)
        return;
    item.Checked = true;
    ++CheckedCount;
    CheckedSize += item.FullSize;
}

void TPhotoList::Uncheck(int index) {
    TPhotoItem& item = FItems[index];
    if (!item.Checked)
        return;
    item.Checked = false;
    --CheckedCount;
    CheckedSize -= item.FullSize;
}

void TPhotoList::RemoveLast() {
    if (FItems.empty())
        return;
    if (FItems.back().Checked)
        --CheckedCount;
    FItems.pop_back();
}

void TPhotoList::Clear() {
    FItems.clear();
    CheckedCount = 0;
    CheckedSize = 0;
}

std::unordered_map<uint32_t, int> TPhotoList::FirstIndexByImageId() const {
    std::unordered_map<uint32_t, int> index;
    index.reserve(FItems.size());
    for (size_t i = 0; i < FItems.size(); ++i)
        index.try_emplace(FItems[i].ImageId, static_cast<int>(i));
    return index;
}

void TCamPhotoList::Check(int index) {
    TCamPhotoItem& item = FItems[index];
    if (item.Checked)
        return;
    item.Checked = true;
    ++CheckedCount;
}

void TCamPhotoList::Uncheck(int index) {
    TCamPhotoItem& item = FItems[index];
    if (!item.Checked)
        return;
    item.Checked = false;
    --CheckedCount;
}

void TCamPhotoList::Clear() {
    FItems.clear();
    CheckedCount = 0;
}

TIpodPhotoDb::TIpodPhotoDb(TIpodDevice& device, bool withCameraRoll)
    : Device(device), WithCameraRoll(withCameraRoll) {}

}  // namespace corvane
