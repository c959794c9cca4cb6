// The naming template of the transfer options: the template to type, and beneath it the name
// it gives a sample track (the first ticked one), updated as the user types.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>

#include "music/iPodMusic.h"

class QLabel;
class QLineEdit;

namespace corvane::app {

class TNameTemplateBox : public QWidget {
    Q_OBJECT
public:
    explicit TNameTemplateBox(QWidget* parent);

    void SetTemplate(const QString& text);
    QString Template() const;
    // Why the template cannot name files, or empty.
    QString Error() const;
    // The track whose name the preview shows; without one it lists the tokens.
    void SetSample(const TTrackItem& track);

    QLineEdit* TemplateEdt = nullptr;
    QLabel* PreviewLb = nullptr;

private:
    void UpdatePreview();

    std::optional<TTrackItem> FSample;
};

}  // namespace corvane::app
