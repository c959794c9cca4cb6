// The pictures of one tree node as a list model: each row is only the index of its picture
// (into Photos for an album, into CameraPhotos for the camera roll), so that a library of tens
// of thousands of photos costs one integer per row. Captions and check marks are read from the
// library itself, which keeps a photo shown in two albums ticked once.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <optional>
#include <vector>

#include "views/PictureGridCache.h"

namespace corvane {
class TIpodPhotoDb;
}

namespace corvane::views {

class TPictureListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum TRole {
        TagRole = Qt::UserRole + 1,  // int: the picture's index in its list
        ThumbRole,                   // QPixmap: the preview, null while it has none
        CloudRole,                   // bool: the original is only in the cloud
    };

    explicit TPictureListModel(QObject* parent = nullptr);

    // The library read by the rows; null for none. Empties the model.
    void SetLibrary(TIpodPhotoDb* db);
    // Replaces the rows by the pictures tags (indexes into CameraPhotos or Photos); tags
    // outside the list are left out.
    void Fill(bool cameraRoll, std::vector<int> tags);
    void Clear();

    bool CameraRoll() const { return FCameraRoll; }
    int Tag(int row) const { return FTags[static_cast<size_t>(row)]; }
    // The rows showing picture tag, in order.
    std::vector<int> RowsOf(int tag) const;
    // The loader wrote the preview of picture tag of list cameraRoll; onScreen: convert it now.
    void PreviewChanged(bool cameraRoll, int tag, bool onScreen);
    // Check marks were changed in the library behind the model's back (a whole grid at once).
    void ChecksChanged();
    // The screen's device pixels per point and the preview cell in points (see the cache).
    void SetPreviewDensity(int scale, QSize cell) { FCache.SetDensity(scale, cell); }

    // The date a picture was taken as its caption shows it, in the computer's time zone.
    static QString DateText(const std::optional<int64_t>& seconds);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A row's check box was changed (by a click or a key): the handler ticks the picture in
    // the library. The model reads the new state back afterwards.
    void ItemCheckChange(int row, bool checked);

private:
    bool Checked(int tag) const;

    TIpodPhotoDb* FDb = nullptr;
    bool FCameraRoll = false;
    std::vector<int> FTags;
    // The rows of each tag as chains: first row per tag, then the next row with the same tag.
    std::vector<int> FFirstRow;
    std::vector<int> FNextRow;
    mutable TThumbPixmapCache FCache;
};

}  // namespace corvane::views
