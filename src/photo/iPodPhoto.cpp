#include "photo/iPodPhoto.h"

namespace corvane {

void TPhotoList::Check(int index) {
    TPhotoItem* item = Find(index);
    if (item == nullptr || item->Checked)
        return;
    item->Checked = true;
    ++CheckedCount;
    CheckedSize += item->FullSize;
}

void TPhotoList::Uncheck(int index) {
    TPhotoItem* item = Find(index);
    if (item == nullptr || !item->Checked)
        return;
    item->Checked = false;
    --CheckedCount;
    CheckedSize -= item->FullSize;
}

void TPhotoList::RemoveLast() {
    if (Empty())
        return;
    if (FItems.back().Checked)
        --CheckedCount;
    TRecordList::RemoveLast();
}

void TPhotoList::Clear() {
    TRecordList::Clear();
    CheckedCount = 0;
    CheckedSize = 0;
}

std::unordered_map<uint32_t, int> TPhotoList::FirstIndexByImageId() const {
    std::unordered_map<uint32_t, int> index;
    index.reserve(FItems.size());
    for (int i = 0; i < Count(); ++i)
        index.try_emplace(Items(i).ImageId, i);
    return index;
}

void TCamPhotoList::Check(int index) {
    TCamPhotoItem* item = Find(index);
    if (item == nullptr || item->Checked)
        return;
    item->Checked = true;
    ++CheckedCount;
}

void TCamPhotoList::Uncheck(int index) {
    TCamPhotoItem* item = Find(index);
    if (item == nullptr || !item->Checked)
        return;
    item->Checked = false;
    --CheckedCount;
}

void TCamPhotoList::Clear() {
    TRecordList::Clear();
    CheckedCount = 0;
}

TIpodPhotoDb::TIpodPhotoDb(TIpodDevice& device, bool withCameraRoll)
    : Device(device), WithCameraRoll(withCameraRoll) {}

}  // namespace corvane
