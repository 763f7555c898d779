#include "ui/strings/display_font.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <optional>

namespace tessarine::ui {
namespace {

std::optional<QFontDatabase::WritingSystem> WritingSystemOf(std::uint32_t charset) {
    switch (charset) {
        case 0:    // ANSI
        case 77:   // Mac Roman
        case 162:  // Turkish
        case 186:  // Baltic
        case 238:  // Central European
        case 255:  // OEM
            return QFontDatabase::Latin;
        case 1:  // default: whatever the desktop has
            return QFontDatabase::Any;
        case 2:
            return QFontDatabase::Symbol;
        case 128:
            return QFontDatabase::Japanese;
        case 129:  // Hangul
        case 130:  // Johab
            return QFontDatabase::Korean;
        case 134:
            return QFontDatabase::SimplifiedChinese;
        case 136:
            return QFontDatabase::TraditionalChinese;
        case 161:
            return QFontDatabase::Greek;
        case 163:
            return QFontDatabase::Vietnamese;
        case 177:
            return QFontDatabase::Hebrew;
        case 178:
            return QFontDatabase::Arabic;
        case 204:
            return QFontDatabase::Cyrillic;
        case 222:
            return QFontDatabase::Thai;
        default:
            return std::nullopt;
    }
}

}  // namespace

bool HasDisplayFontForCharset(std::uint32_t charset) {
    const auto system = WritingSystemOf(charset);
    if (!system) return false;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return true;
    return !QFontDatabase::families(*system).isEmpty();
}

}  // namespace tessarine::ui
