#include "gui/NameTemplateBox.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "base/Text.h"
#include "music/TrackNameTemplate.h"

namespace corvane::app {

TNameTemplateBox::TNameTemplateBox(QWidget* parent) : QWidget(parent) {
    TemplateEdt = new QLineEdit(this);
    TemplateEdt->setObjectName("TemplateEdt");
    TemplateEdt->setToolTip(QString::fromStdString("Tokens: " + TTrackNameTemplate::TokenList() +
                                                   "; \"/\" starts a folder, %% is a % sign"));
    PreviewLb = new QLabel(this);
    PreviewLb->setObjectName("PreviewLb");
    PreviewLb->setTextFormat(Qt::PlainText);
    PreviewLb->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(TemplateEdt);
    layout->addWidget(PreviewLb);
    connect(TemplateEdt, &QLineEdit::textChanged, this, &TNameTemplateBox::UpdatePreview);
    UpdatePreview();
}

void TNameTemplateBox::SetTemplate(const QString& text) {
    TemplateEdt->setText(text);
    UpdatePreview();  // also when the text was already this one
}

QString TNameTemplateBox::Template() const {
    return TemplateEdt->text();
}

QString TNameTemplateBox::Error() const {
    return QString::fromStdString(TTrackNameTemplate(Template().toStdString()).Error());
}

void TNameTemplateBox::SetSample(const TTrackItem& track) {
    FSample = track;
    UpdatePreview();
}

void TNameTemplateBox::UpdatePreview() {
    const TTrackNameTemplate naming(Template().toStdString());
    if (!naming.Valid()) {
        PreviewLb->setText(QString::fromStdString(naming.Error()));
        return;
    }
    if (!FSample) {
        PreviewLb->setText(QString::fromStdString("Tokens: " + TTrackNameTemplate::TokenList()));
        return;
    }
    PreviewLb->setText("Example: " + QString::fromStdString(naming.Path(*FSample) +
                                                            ExtractFileExt(FSample->Location)));
}

}  // namespace corvane::app
