// The product chooser: the user picks the music or the photo mode, or visits the page of
// another product of the same maker.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane::app {

class TProductForm : public QDialog {
    Q_OBJECT

public:
    explicit TProductForm(QWidget* parent = nullptr);

    // Prepares the dialog before it is shown. An empty ProductName gives the generic titles;
    // an empty MoreUrl hides "More products ...".
    void SetProductName(const QString& ProductName, const QString& IPBUrl, const QString& MoreUrl);
    // Makes the Open button of the music (or the photo) row the one Enter presses.
    void SetDefaultMode(bool music);

    int SelectedProductId = 0;  // 0 no choice, 1 music, 2 photo
    QString FMoreUrl;
    QString FIPBUrl;

    QLabel* MLb = nullptr;
    QLabel* PLb = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* MusicBtn = nullptr;
    QPushButton* PhotoBtn = nullptr;
    QPushButton* IpbBtn = nullptr;
    QPushButton* MoreBtn = nullptr;
    QCheckBox* NoAskCb = nullptr;  // "Do not ask at start"

    void MusicBtnClick();
    void PhotoBtnClick();
    void IpbBtnClick();
    void MoreBtnClick();

protected:
    // Centred on the owner's window, whatever the window manager would choose, and again
    // when that window moves (at start the window manager places it only after this opens).
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* Owner() const;
    void CentreOnOwner();
};

// The address of the page about the maker's other product, on the brand's own site.
QString OtherProductUrl();

// Runs the chooser modally over owner for the current brand and returns its choice (0, 1
// or 2). Only brand 1 shows its own name and the page listing more products.
int RunProductChooser(QWidget* owner);

// The chooser runs at start unless the user ticked "Do not ask at start" in it; the mode
// then opened is the one last chosen (1 music, 2 photo; 1 when none was).
bool AskProductAtStart();
int SavedProductMode();

}  // namespace corvane::app
