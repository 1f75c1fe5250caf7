// The editor and settings windows the panel and the status icon's menu open.
#include "AppWindows.h"
#include "model/ModelTestSupport.h"

#include <QApplication>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

std::vector<QWidget*> shown(const QString& objectName) {
    std::vector<QWidget*> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->objectName() == objectName)
            windows.push_back(window);
    return windows;
}

QString editedName(QWidget* editor) {
    return editor->findChild<QLineEdit*>("name")->text();
}

TEST(AppWindows, OneEditorPerJobAndOneSettingsWindowRaisedWhenAskedAgain) {
    test::ModelHome home;
    home.harness("exit 0\n");
    Job nightly = home.job("Nightly review", Instant::fromUnix(1796644800), "0 2 * * *");
    auto model = home.model();
    {
        AppWindows windows(*model);

        windows.showEditor(std::nullopt);
        windows.showEditor(nightly);
        windows.showEditor(std::nullopt);
        windows.showEditor(nightly);
        std::vector<QWidget*> editors = shown("job-editor");
        ASSERT_EQ(editors.size(), 2u);
        QStringList names{editedName(editors[0]), editedName(editors[1])};
        names.sort();
        EXPECT_EQ(names, QStringList({"", "Nightly review"}));

        // A closed editor is gone; asking again opens a fresh one.
        for (QWidget* editor : editors)
            if (editedName(editor).isEmpty())
                editor->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        windows.showEditor(std::nullopt);
        EXPECT_EQ(shown("job-editor").size(), 2u);

        windows.showSettings();
        shown("settings").front()->close();
        windows.showSettings();
        EXPECT_EQ(shown("settings").size(), 1u);
    }
    // The windows go with the application.
    EXPECT_TRUE(shown("job-editor").empty());
    EXPECT_TRUE(shown("settings").empty());
}

} // namespace
} // namespace marrowbell::app
