#include "ui/strings/display_font.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QStringList>

namespace tessarine::ui {
namespace {

// The check asks the desktop's fonts (the suite runs with a QApplication).
TEST(DisplayFontTest, KnownCharsetsAskTheFontDatabaseUnknownOnesFail) {
    EXPECT_EQ(HasDisplayFontForCharset(1), !QFontDatabase::families().isEmpty());
    EXPECT_EQ(HasDisplayFontForCharset(128),
              !QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
    EXPECT_EQ(HasDisplayFontForCharset(0),
              !QFontDatabase::families(QFontDatabase::Latin).isEmpty());
    for (const std::uint32_t unknown : {3u, 100u, 999u}) {
        EXPECT_FALSE(HasDisplayFontForCharset(unknown)) << unknown;
    }
}

}  // namespace
}  // namespace tessarine::ui
