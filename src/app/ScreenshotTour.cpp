#include "app/ScreenshotTour.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

#include "gui/Shell.h"
#include "transfer/KelProgress.h"

namespace corvane::app {
namespace {

// One step of a walk: it waits until Ready holds (polled on the event loop, also inside the
// modal loops of dialogs), then Act runs.
struct TStep {
    QString Name;
    std::function<bool()> Ready;
    std::function<void()> Act;
};

class TTour {
public:
    TTour(QWidget* mainWindow, QString outputDir) : FMain(mainWindow), FDir(std::move(outputDir)) {}

    void Add(QString name, std::function<bool()> ready, std::function<void()> act) {
        FSteps.push_back({std::move(name), std::move(ready), std::move(act)});
    }

    void Start(const std::shared_ptr<TTour>& self) {
        QDir().mkpath(FDir);
        // Nothing the walk presses may open a browser or a file manager.
        SetShellHandler([](const TShellRequest&) {});
        FClock.start();
        Poll(self);
    }

    QWidget* Main() const { return FMain; }

    QWidget* Modal() const { return QApplication::activeModalWidget(); }

    template <typename T>
    T* Find(const char* name) const {
        if (QWidget* modal = Modal())
            if (T* found = modal->findChild<T*>(name))
                return found;
        return FMain->findChild<T*>(name);
    }

    bool ModalIs(const char* className) const {
        QWidget* modal = Modal();
        return modal != nullptr && modal->isVisible() && modal->inherits(className);
    }

    void Save(QWidget* window, const QString& fileName) const {
        window->grab().save(FDir + "/" + fileName);
    }

private:
    void Poll(const std::shared_ptr<TTour>& self) {
        if (FSteps.empty()) {
            QApplication::exit(0);
            return;
        }
        TStep& step = FSteps.front();
        if (step.Ready()) {
            FStepClock.invalidate();
            auto act = std::move(step.Act);
            FSteps.pop_front();
            // Give the window a moment to settle its layout before it is pictured.
            QTimer::singleShot(150, [self, act] {
                act();
                self->Poll(self);
            });
            return;
        }
        if (!FStepClock.isValid())
            FStepClock.start();
        if (FStepClock.elapsed() > 30000) {
            qWarning("Screenshot walk: step \"%s\" never became ready", qPrintable(step.Name));
            QApplication::exit(1);
            return;
        }
        QTimer::singleShot(20, [self] { self->Poll(self); });
    }

    QWidget* FMain;
    QString FDir;
    std::deque<TStep> FSteps;
    QElapsedTimer FClock;
    QElapsedTimer FStepClock;
};

QModelIndex FindRow(QAbstractItemModel* model, const QString& text, const QModelIndex& parent) {
    for (int row = 0; row < model->rowCount(parent); ++row) {
        QModelIndex index = model->index(row, 0, parent);
        if (index.data().toString() == text)
            return index;
        QModelIndex inner = FindRow(model, text, index);
        if (inner.isValid())
            return inner;
    }
    return {};
}

bool SelectNode(QTreeView* tree, const QString& text) {
    if (tree == nullptr || tree->model() == nullptr)
        return false;
    QModelIndex index = FindRow(tree->model(), text, {});
    if (!index.isValid())
        return false;
    tree->setCurrentIndex(index);
    return true;
}

void Click(QAbstractButton* button) {
    if (button != nullptr)
        button->click();
}

void ChooseInProductChooser(TTour& tour, const std::shared_ptr<TTour>& self, bool music) {
    tour.Add(
        "product chooser", [self] { return self->ModalIs("corvane::app::TProductForm"); },
        [self, music] {
            self->Save(self->Modal(), "product-chooser.png");
            Click(self->Find<QAbstractButton>(music ? "MusicBtn" : "PhotoBtn"));
        });
}

// The demo transfer is over in a blink, so the running dialog is pictured from inside its own
// progress report (the worker waits meanwhile), at the second item.
class TProgressCatcher : public QObject {
public:
    explicit TProgressCatcher(std::shared_ptr<TTour> tour) : FTour(std::move(tour)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<transfer::TProgressDialog*>(watched);
        if (event->type() == QEvent::Show && dialog != nullptr && !FHooked) {
            FHooked = true;
            connect(dialog, &transfer::TProgressDialog::ProgressShown, this, [this, dialog] {
                if (!FSaved && dialog->Pb->value() >= 2) {
                    FSaved = true;
                    FTour->Save(dialog, "progress-running.png");
                }
            });
        }
        return false;
    }

private:
    std::shared_ptr<TTour> FTour;
    bool FHooked = false;
    bool FSaved = false;
};

void CatchProgressMidway(const std::shared_ptr<TTour>& tour) {
    static std::unique_ptr<TProgressCatcher> catcher;
    catcher = std::make_unique<TProgressCatcher>(tour);
    qApp->installEventFilter(catcher.get());
}

void AddMusicWalk(const std::shared_ptr<TTour>& tour, const QString& destination) {
    TTour& t = *tour;
    ChooseInProductChooser(t, tour, true);
    t.Add(
        "music view",
        [tour] {
            auto* list = tour->Find<QTreeView>("MusicList");
            return list != nullptr && list->isEnabled() && list->isVisible() &&
                   list->model()->rowCount() > 0;
        },
        [tour] { SelectNode(tour->Find<QTreeView>("MediaList"), "Favourites"); });
    t.Add(
        "track selected", [] { return true; },
        [tour] {
            // The first track selected, so that the cover pane shows its album art.
            if (auto* list = tour->Find<QTreeView>("MusicList");
                list && list->model()->rowCount() > 0)
                list->setCurrentIndex(list->model()->index(0, 0));
        });
    t.Add(
        "playlist shown", [] { return true; },
        [tour] { tour->Save(tour->Main(), "music-view.png"); });
    t.Add(
        "options", [tour] { return SelectNode(tour->Find<QTreeView>("MediaList"), "Library"); },
        [tour] {
            // The options dialog is modal: the next steps run inside its loop.
            QTimer::singleShot(0, [tour] { Click(tour->Find<QAbstractButton>("TransBtn")); });
        });
    t.Add(
        "options dialog", [tour] { return tour->ModalIs("corvane::transfer::TTransForm"); },
        [tour, destination] {
            if (auto* edit = tour->Find<QLineEdit>("DestEdt"))
                edit->setText(destination);
            CatchProgressMidway(tour);
            tour->Save(tour->Modal(), "options-music.png");
            Click(tour->Find<QAbstractButton>("OKBtn"));
        });
    t.Add(
        "progress done",
        [tour] {
            auto* button = tour->Find<QAbstractButton>("ActBtn");
            return tour->ModalIs("corvane::transfer::TProgressDialog") && button != nullptr &&
                   button->text() == "Done";
        },
        [tour] {
            tour->Save(tour->Modal(), "progress-done.png");
            Click(tour->Find<QAbstractButton>("ActBtn"));
        });
    t.Add(
        "after transfer", [tour] { return tour->Modal() == nullptr; },
        [tour] {
            tour->Save(tour->Main(), "music-after-transfer.png");
            QTimer::singleShot(0, [tour] {
                if (auto* log = tour->Main()->findChild<QAction*>("LogMnu"))
                    log->trigger();
            });
        });
    t.Add(
        "error log", [tour] { return tour->ModalIs("corvane::app::TLogForm"); },
        [tour] {
            tour->Save(tour->Modal(), "error-log.png");
            tour->Modal()->close();
        });
}

void AddPhotoWalk(const std::shared_ptr<TTour>& tour, const QString& suffix) {
    TTour& t = *tour;
    ChooseInProductChooser(t, tour, false);
    auto previewsLoaded = [tour] {
        auto* tree = tour->Find<QTreeView>("PicList");
        return tree != nullptr && tree->isEnabled() && tree->isVisible();
    };
    t.Add("photo view", previewsLoaded,
          [tour] { SelectNode(tour->Find<QTreeView>("PicList"), "Albums"); });
    t.Add(
        "photo view shown", [] { return true; },
        [tour, suffix] { tour->Save(tour->Main(), "photo-view" + suffix + ".png"); });
    t.Add(
        "camera roll",
        [tour] { return SelectNode(tour->Find<QTreeView>("PicList"), "Camera roll"); }, [] {});
    t.Add("camera roll loaded", previewsLoaded,
          [tour, suffix] { tour->Save(tour->Main(), "camera-roll" + suffix + ".png"); });
    t.Add(
        "photo options", [tour] { return SelectNode(tour->Find<QTreeView>("PicList"), "Albums"); },
        [tour] {
            QTimer::singleShot(0, [tour] { Click(tour->Find<QAbstractButton>("TransBtn")); });
        });
    t.Add(
        "photo options dialog", [tour] { return tour->ModalIs("corvane::transfer::TTransForm"); },
        [tour, suffix] {
            tour->Save(tour->Modal(), "options-photo" + suffix + ".png");
            Click(tour->Find<QAbstractButton>("CancelBtn"));
        });
}

}  // namespace

bool StartScreenshotTour(QWidget* mainWindow, const QString& walk, const QString& outputDir) {
    auto tour = std::make_shared<TTour>(mainWindow, outputDir);
    // The music walk exports into a folder of its own that goes away with the program.
    static QTemporaryDir exportDir;
    if (walk == "idle") {
        ChooseInProductChooser(*tour, tour, true);
        tour->Add(
            "idle", [] { return true; }, [tour] { tour->Save(tour->Main(), "idle.png"); });
    } else if (walk == "music") {
        AddMusicWalk(tour, exportDir.path() + "/Music/");
    } else if (walk == "photo") {
        AddPhotoWalk(tour, "");
    } else if (walk == "photo-iphone") {
        AddPhotoWalk(tour, "-iphone");
    } else {
        return false;
    }
    tour->Start(tour);
    return true;
}

}  // namespace corvane::app
