#pragma once

#include <QWidget>

class QVBoxLayout;

namespace marrowbell::app {

class AppModel;

// The "Harnesses" tab: every harness of the manifest, whether and where it is
// installed, what it offers and how it enforces a job's limits (the row's tooltip).
// The executables are resolved in the background when the tab is first shown and on
// "Re-detect".
class HarnessesPane : public QWidget {
    Q_OBJECT
public:
    explicit HarnessesPane(AppModel& model, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showHarnesses();

    AppModel& model_;
    QVBoxLayout* rows_ = nullptr;
    bool resolved_ = false;
};

} // namespace marrowbell::app
