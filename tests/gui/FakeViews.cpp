#include "gui/FakeViews.h"

#include <stdexcept>

namespace corvane::testing {

void TFakeView::Populate() {
    ++PopulateCount;
    if (!PopulateError.empty())
        throw std::runtime_error(PopulateError);
}

bool TFakeView::StartTransfer() {
    ++TransferCount;
    return OnTransfer ? OnTransfer() : TransferResult;
}

bool TFakeView::FindText(const QString& text) {
    Searches << text;
    return true;
}

std::function<std::unique_ptr<views::TDeviceView>(bool, QWidget*, TIpodDevice&)>
TFakeViewFactory::Maker() {
    return [this](bool music, QWidget* owner, TIpodDevice&) {
        auto view = std::make_unique<TFakeView>(owner, music);
        if (Setup)
            Setup(*view);
        Made.push_back({music, view.get()});
        return std::unique_ptr<views::TDeviceView>(std::move(view));
    };
}

int TFakeViewFactory::Count(bool music) const {
    int count = 0;
    for (const auto& made : Made)
        count += made.Music == music ? 1 : 0;
    return count;
}

int TFakeViewFactory::Alive(bool music) const {
    int count = 0;
    for (const auto& made : Made)
        count += made.Music == music && made.View ? 1 : 0;
    return count;
}

TFakeView* TFakeViewFactory::Last(bool music) const {
    for (auto it = Made.rbegin(); it != Made.rend(); ++it) {
        if (it->Music == music)
            return it->View.data();
    }
    return nullptr;
}

}  // namespace corvane::testing
