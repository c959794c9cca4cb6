// The track list of the music view as a model: a row is nothing but the index of its track in
// the library, so a list of any size costs one integer a row and no item objects. The check
// state of a row is the track's own mark, so every list showing that track agrees.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>
#include <QStringList>
#include <array>
#include <cstddef>
#include <vector>

namespace corvane {
class TTrackList;
struct TTrackItem;
}  // namespace corvane

namespace corvane::views {

enum TTrackColumn : int {
    tcMark = 0,  // the transfer mark
    tcName = 1,
    tcTime = 2,
    tcArtist = 3,
    tcAlbum = 4,
    tcGenre = 5,
    tcSize = 6,
    tcRating = 7,  // stars, 20 points a star
    tcPlays = 8,
    tcKind = 9,
    tcColumnCount = 10,
};

class TTrackListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TTrackListModel(TTrackList& tracks, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Orders the rows by a column: the mark, the time and the size by number, the texts by
    // character code with the letters a to z taken as A to Z. Stable: rows that compare
    // equal keep their order in either direction.
    void sort(int column, Qt::SortOrder order) override;

    // Replaces the shown rows by these track indexes.
    void SetRows(std::vector<int> rows);
    const std::vector<int>& Rows() const { return FRows; }
    // The track of a shown row; nullptr for a row or track index that names none (the model
    // answers inside Qt's calls, where nothing may throw).
    const TTrackItem* TrackAt(int row) const;

    // Ticks (or clears) the track of every shown row; other tracks keep their marks.
    void CheckAll(bool checked);
    void SetChecked(int row, bool checked);
    // The same for many rows with one change report, so ticking a large selection does not
    // recount the list once per row.
    void SetChecked(const std::vector<int>& rows, bool checked);
    void ToggleChecked(int row);
    // Takes the row tints from this palette (the application's at start).
    void SetPalette(const QPalette& palette);
    // Every text the Kind column shows, for sizing it.
    static QStringList KindTexts();

private:
    void ChecksChanged();

    TTrackList& FTracks;
    std::vector<int> FRows;
    std::array<QPixmap, 3> FMarks;
    QColor FEvenRow;
    QColor FOddRow;  // failed, copied, copied but not for the media library
};

}  // namespace corvane::views
