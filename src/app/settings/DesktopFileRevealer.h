#pragma once

#include "settings/FileRevealer.h"

#include <QString>

namespace marrowbell::app {

// Asks the file manager on the session bus (org.freedesktop.FileManager1.ShowItems)
// to show the item selected; when nobody answers — no session bus, no file manager,
// an error or no reply in time — the fallback folder is opened with `xdg-open`.
class DesktopFileRevealer : public FileRevealer {
public:
    // `opener` is the program given the fallback folder; `service` the bus name of the
    // file manager.
    explicit DesktopFileRevealer(QString opener = QStringLiteral("xdg-open"),
                                 QString service = QStringLiteral("org.freedesktop.FileManager1"));

    void reveal(const std::filesystem::path& item,
                const std::filesystem::path& fallbackFolder) override;

    // How long the file manager may take to answer, started on demand included.
    static constexpr int replyTimeoutMs = 10000;

private:
    QString opener_;
    QString service_;
};

} // namespace marrowbell::app
