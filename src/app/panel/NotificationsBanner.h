#pragma once

#include <QAbstractButton>

namespace marrowbell::app {

// "Notifications are off…": a slashed bell and the sentence, wrapped over as many lines
// as the panel's width needs; a button only where it can open the desktop's settings.
class NotificationsBanner : public QAbstractButton {
    Q_OBJECT
public:
    explicit NotificationsBanner(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect(int width) const;
};

} // namespace marrowbell::app
