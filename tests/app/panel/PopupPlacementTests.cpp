// Where the panel opens beside the status icon.
#include "panel/PopupPlacement.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

const QRect screen(0, 0, 1920, 1080);
const QSize panel(380, 500);

struct PlacementCase {
    const char* situation;
    QRect icon;
    std::optional<QPoint> pointer;
    QPoint expected;
};

class PopupPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(PopupPlacement, BesideTheIconOrPointerAndWhollyOnScreen) {
    const auto& c = GetParam();
    EXPECT_EQ(popupPosition(panel, screen, c.icon, c.pointer), c.expected) << c.situation;
}

INSTANTIATE_TEST_SUITE_P(
    Situations, PopupPlacement,
    testing::Values(PlacementCase{"icon on a top panel, centred below it", QRect(900, 0, 24, 24),
                                  std::nullopt, QPoint(911 - 190, 28)},
                    PlacementCase{"icon at the right edge: kept on screen", QRect(1890, 0, 24, 24),
                                  std::nullopt, QPoint(1920 - 380, 28)},
                    PlacementCase{"icon on a bottom panel: above it", QRect(100, 1056, 24, 24),
                                  std::nullopt, QPoint(0, 1056 - 4 - 500)},
                    PlacementCase{"unknown icon place: at the pointer", QRect(), QPoint(1500, 10),
                                  QPoint(1500 - 190, 14)},
                    PlacementCase{"nothing known: top-right corner", QRect(), std::nullopt,
                                  QPoint(1920 - 380 - 4, 4)}));

} // namespace
} // namespace marrowbell::app
