#include "settings/DesktopFileRevealer.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

// A name of this test process alone, so tests running side by side on one bus never
// answer each other.
const QString fileManagerName =
    QStringLiteral("org.marrowbell.tests.FileManager.p%1").arg(QCoreApplication::applicationPid());

// A file manager on the session bus that remembers what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

// With no file manager on the bus the folder is opened; a file manager is asked to show
// the item selected, and then nothing is opened.
TEST(DesktopFileRevealer, AsksTheFileManagerElseOpensTheFolder) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus: run the tests through ./dev test";
    test::TempDir dir;
    const auto opener = dir / "opener", opened = dir / "opened", jobs = dir / "Marrowbell/Jobs";
    // Writes its argument whole, then names the file, so the test never reads half.
    test::writeFile(opener,
                    "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"" +
                        opened.string() + "\"\n",
                    true);
    std::filesystem::create_directories(jobs);
    DesktopFileRevealer revealer{QString::fromStdString(opener.string()), fileManagerName};
    revealer.reveal(jobs, jobs.parent_path());
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(opened); }));
    EXPECT_EQ(files::read(opened), jobs.parent_path().string());
    std::filesystem::remove(opened);

    FakeFileManager manager;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &manager,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(fileManagerName));
    revealer.reveal(jobs, jobs.parent_path());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown,
              QStringList{QUrl::fromLocalFile(QString::fromStdString(jobs.string())).toString()});
    QTest::qWait(200);
    EXPECT_FALSE(std::filesystem::exists(opened));
    bus.unregisterService(fileManagerName);
    bus.unregisterObject("/org/freedesktop/FileManager1");
}

} // namespace
} // namespace marrowbell::app

#include "DesktopFileRevealerTests.moc"
