#include "views/PictureGridCache.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "photo/iPodPhoto.h"

namespace corvane::views {
namespace {

// Copies the preview's bytes while holding ThumbLock; the slower conversion for the screen
// happens after the lock is released.
QImage CopyPreview(TIpodPhotoDb& db, bool cameraRoll, int index) {
    std::lock_guard lock(db.ThumbLock);
    if (index < 0 || index >= (cameraRoll ? db.CameraPhotos.Count() : db.Photos.Count()))
        return {};
    const TBitmap& thumb =
        cameraRoll ? db.CameraPhotos.Items(index).Thumb : db.Photos.Items(index).Thumb;
    if (thumb.Empty())
        return {};
    QImage image(thumb.Width(), thumb.Height(), QImage::Format_RGB888);
    if (image.isNull())
        return {};
    const size_t rowBytes = static_cast<size_t>(thumb.Width()) * 3;
    for (int y = 0; y < thumb.Height(); ++y)
        std::memcpy(image.scanLine(y), thumb.Row(y), rowBytes);
    return image;
}

}  // namespace

TThumbPixmapCache::TThumbPixmapCache(int maxKilobytes) : FEntries(maxKilobytes) {}

void TThumbPixmapCache::SetLibrary(TIpodPhotoDb* db) {
    FDb = db;
    FEntries.clear();
}

void TThumbPixmapCache::SetDensity(int scale, QSize cell) {
    FScale = std::max(scale, 1);
    FCell = cell;
    FEntries.clear();
}

qint64 TThumbPixmapCache::Key(bool cameraRoll, int index) {
    return (cameraRoll ? (qint64{1} << 32) : 0) | static_cast<quint32>(index);
}

void TThumbPixmapCache::Store(bool cameraRoll, int index) {
    if (FDb == nullptr)
        return;
    QImage image = CopyPreview(*FDb, cameraRoll, index);
    auto entry = std::make_unique<TEntry>();
    // A preview of the cell's own size is drawn as it is (the screen enlarges it); a denser
    // one fills the cell at the screen's density, scaled once here when it falls a little short.
    const bool dense =
        FScale > 1 && FCell.isValid() &&
        (image.width() * 4 > FCell.width() * 5 || image.height() * 4 > FCell.height() * 5);
    if (dense) {
        const QSize want = FCell * FScale;
        if (image.width() < want.width() || image.height() < want.height())
            image = image.scaled(want.expandedTo(QSize(1, 1)), Qt::KeepAspectRatioByExpanding,
                                 Qt::SmoothTransformation);
    }
    if (!image.isNull()) {
        entry->Pixmap = QPixmap::fromImage(std::move(image));
        if (dense)
            entry->Pixmap.setDevicePixelRatio(FScale);
    }
    // Pictures without a preview yet are remembered too, so that drawing them takes no lock.
    const qint64 cost = 1 + qint64{entry->Pixmap.width()} * entry->Pixmap.height() * 4 / 1024;
    FEntries.insert(Key(cameraRoll, index), entry.release(), cost);
}

QPixmap TThumbPixmapCache::Pixmap(bool cameraRoll, int index) {
    if (TEntry* entry = FEntries.object(Key(cameraRoll, index)))
        return entry->Pixmap;
    Store(cameraRoll, index);
    if (TEntry* entry = FEntries.object(Key(cameraRoll, index)))
        return entry->Pixmap;
    return {};
}

void TThumbPixmapCache::Refresh(bool cameraRoll, int index) {
    Store(cameraRoll, index);
}

void TThumbPixmapCache::Invalidate(bool cameraRoll, int index) {
    FEntries.remove(Key(cameraRoll, index));
}

void TThumbPixmapCache::Clear() {
    FEntries.clear();
}

}  // namespace corvane::views
