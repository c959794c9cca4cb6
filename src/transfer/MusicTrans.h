// "Prepare to transfer": the modal dialog before every transfer. It asks for the destination
// folder and the naming or grouping, and (music) whether to restore into the media library;
// the choices are remembered per user, separately for music and photos.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "music/iPodMusic.h"
#include "transfer/LibraryTargets.h"

class QCheckBox;
class QComboBox;
class QSettings;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace corvane::app {
class TNameTemplateBox;
}

namespace corvane::transfer {

class TTransForm : public QDialog {
    Q_OBJECT
public:
    explicit TTransForm(QWidget* owner);

    // Sets the dialog up for one transfer: "Transfer selected " + summary, the choices of the
    // mode, the saved settings of the mode.
    void Prepare(const QString& summary, bool isMusic);
    void LoadSettings(bool isMusic);
    void SaveSettings(bool isMusic);
    // The transfer was started while a part of the library is shown (a playlist, a category,
    // an album) that holds only some of the ticked items: the summary then names the whole
    // library's ticks and ShownOnlyCb offers the shown ones alone, ticked, summed up by
    // shownSummary ("2 tracks, about 5.1 MB").
    void OfferShownOnly(const QString& nodeName, const QString& shownSummary);
    // ShownOnlyCb is offered and ticked.
    bool ShownOnly() const;

    // The chosen index of FormatCb; valid after OK.
    int Organize = 0;

    QString Destination() const;           // DestEdt's text
    TLibraryTarget LibraryTarget() const;  // LibraryCb's choice (music)
    bool RestoreToITunes() const;          // a library target is chosen (music)
    bool WritePlaylistFiles() const;       // PlaylistCb's state (music)
    bool CoverFiles() const;               // CoversCb's state (music)
    bool EmbedCovers() const;              // EmbedCoversCb's state (music)
    bool HeicToJpeg() const;               // HeicCb's state (photos)
    bool LiveVideo() const;                // LiveVideoCb's state (photos)
    int EditedChoice() const;              // EditedCb's index: 0 as edited, 1 originals, 2 both
    // The music choice that names files by TemplateBox's template, and that template.
    static constexpr int kMusicTemplate = TIpodMusicDb::kTemplateScheme;
    bool NamesByTemplate() const;
    QString NameTemplate() const;
    // The track the template's preview names (the first ticked one).
    void SetSampleTrack(const TTrackItem& track);

    // FormatCb's photo choices.
    static constexpr int kPhotoAlbumFolders = 0;
    static constexpr int kPhotoFlat = 1;
    static constexpr int kPhotoByDate = 2;

    // The folder browser behind BrowseBtn (parent, title, start folder; returns the chosen
    // folder or empty). Unset, the platform's folder dialog runs; tests set it.
    using TFolderChooser =
        std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
    static inline TFolderChooser FolderChooser;
    // Why a library target cannot work now, or empty when it can (MPD: a server answers).
    // Unset, it is asked for real; tests set it.
    using TTargetProbe = std::function<std::string(TLibraryTarget target)>;
    static inline TTargetProbe TargetAvailable;

    // Accepts the folder on OK (and may rewrite it), or replaces it by the message to show and
    // returns false: the dialog then stays open and nothing is remembered. The views set it to
    // their library's destination check; unset, every folder is taken.
    using TDestinationCheck = std::function<bool(std::string& folder)>;
    TDestinationCheck DestinationCheck;

    // Controls (object names as the fields), public for the views and for tests.
    QFrame* Shp = nullptr;
    QLabel* InfoLb = nullptr;
    QCheckBox* ShownOnlyCb = nullptr;  // shown only by OfferShownOnly
    QLineEdit* DestEdt = nullptr;
    QToolButton* BrowseBtn = nullptr;
    QComboBox* FormatCb = nullptr;
    app::TNameTemplateBox* TemplateBox = nullptr;  // shown for kMusicTemplate
    QLabel* LibraryLb = nullptr;
    // The media-library choice by TLibraryTarget: none, MPD, the files' tags. A choice that
    // cannot work is shown disabled.
    QComboBox* LibraryCb = nullptr;
    QCheckBox* PlaylistCb = nullptr;
    QCheckBox* CoversCb = nullptr;
    QCheckBox* EmbedCoversCb = nullptr;
    QCheckBox* HeicCb = nullptr;
    QCheckBox* LiveVideoCb = nullptr;
    QLabel* EditedLb = nullptr;
    QComboBox* EditedCb = nullptr;
    QFrame* Bv = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* OKBtn = nullptr;

public slots:
    void BrowseBtnClick();
    void OKBtnClick();

private:
    void OfferLibraryTargets();
    bool TargetEnabled(int index) const;
    bool AnyTargetEnabled() const;
    TLibraryTarget SavedLibraryTarget(const QSettings* key) const;
    void SelectLibraryTarget(TLibraryTarget target);
    void ShowTemplateBox();
    void ShowSummary();

    bool FIsMusic = true;
    QString FSummary;       // of every ticked item
    QString FShownSummary;  // of the ticked items shown
    QString FNodeName;
};

}  // namespace corvane::transfer
