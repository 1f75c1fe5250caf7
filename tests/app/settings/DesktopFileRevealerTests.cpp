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

class DesktopFileRevealerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: run the tests through ./dev test";
        // Writes its argument whole, then names the file, so the test never reads half.
        test::writeFile(opener_,
                        "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"" +
                            opened_.string() + "\"\n",
                        true);
        std::filesystem::create_directories(jobs_);
    }

    test::TempDir dir_;
    std::filesystem::path opener_ = dir_ / "opener";
    std::filesystem::path opened_ = dir_ / "opened";
    std::filesystem::path jobs_ = dir_ / "Marrowbell/Jobs";
    DesktopFileRevealer revealer_{QString::fromStdString(opener_.string()), fileManagerName};
};

TEST_F(DesktopFileRevealerTest, AsksTheFileManagerToShowTheFolderSelected) {
    FakeFileManager manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &manager,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(fileManagerName));

    revealer_.reveal(jobs_, jobs_.parent_path());

    const QString uri = QUrl::fromLocalFile(QString::fromStdString(jobs_.string())).toString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown, QStringList{uri});
    QTest::qWait(200);
    EXPECT_FALSE(std::filesystem::exists(opened_));
    bus.unregisterService(fileManagerName);
    bus.unregisterObject("/org/freedesktop/FileManager1");
}

TEST_F(DesktopFileRevealerTest, OpensTheSupportFolderWhenNoFileManagerAnswers) {
    revealer_.reveal(jobs_, jobs_.parent_path());
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(opened_); }));
    EXPECT_EQ(files::read(opened_), jobs_.parent_path().string());
}

} // namespace
} // namespace marrowbell::app

#include "DesktopFileRevealerTests.moc"
