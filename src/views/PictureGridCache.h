// Display copies of the previews the loader fills: each is converted once, under ThumbLock,
// and kept for the most recently drawn pictures only, so that a grid of thousands of photos
// neither copies every bitmap twice nor takes the lock for every paint.
#pragma once

#include <QCache>
#include <QPixmap>

namespace corvane {
class TIpodPhotoDb;
}

namespace corvane::views {

class TThumbPixmapCache {
public:
    // About 64 MiB of display copies: several screens full of the largest previews.
    static constexpr int kDefaultKilobytes = 64 * 1024;

    explicit TThumbPixmapCache(int maxKilobytes = kDefaultKilobytes);

    // The library whose previews are shown; null for none. Forgets every copy.
    void SetLibrary(TIpodPhotoDb* db);
    // The screen's device pixels per point and the cell in points: a preview with more pixels
    // than the cell is shown at that density, so that it is drawn sharp, not enlarged.
    // Forgets every copy.
    void SetDensity(int scale, QSize cell);
    // The preview of picture index of CameraPhotos (cameraRoll) or Photos; a null pixmap while
    // it has none.
    QPixmap Pixmap(bool cameraRoll, int index);
    // The loader has just written the picture's preview: convert it again now, while the loader
    // waits for its report and the lock is free.
    void Refresh(bool cameraRoll, int index);
    // The preview changed but is not on screen: convert it when it is next drawn.
    void Invalidate(bool cameraRoll, int index);
    void Clear();

private:
    struct TEntry {
        QPixmap Pixmap;
    };
    static qint64 Key(bool cameraRoll, int index);
    void Store(bool cameraRoll, int index);

    TIpodPhotoDb* FDb = nullptr;
    int FScale = 1;
    QSize FCell;
    QCache<qint64, TEntry> FEntries;
};

}  // namespace corvane::views
