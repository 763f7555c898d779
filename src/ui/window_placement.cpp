#include "ui/window_placement.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "base/app_log.h"

namespace tessarine::ui {
namespace {

constexpr char kCornerProperty[] = "tessarinePlaceInCorner";
constexpr char kSettleProperty[] = "tessarinePlacementSettleUntil";
constexpr char kPendingProperty[] = "tessarinePlacementPending";
// How long after a window is shown the window manager's moves and frame are corrected; later
// moves are the user's.
constexpr qint64 kSettleMs = 1500;

qint64 Now() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

bool IsPlacedWindow(const QWidget& widget) {
    if (!widget.isWindow()) return false;
    // The tray icon's own window lives inside the tray host (XEmbed): its place is the host's.
    if (widget.inherits("QSystemTrayIconSys") || widget.windowFlags() & Qt::BypassWindowManagerHint)
        return false;
    switch (widget.windowType()) {
        case Qt::Window:
        case Qt::Dialog:
        case Qt::Tool:
            return true;
        default:
            return false;  // menus, pop-ups, tool tips: Qt places them itself
    }
}

void ScheduleFit(QWidget& window) {
    if (window.property(kPendingProperty).toBool()) return;
    window.setProperty(kPendingProperty, true);
    QPointer<QWidget> guard(&window);
    QTimer::singleShot(0, &window, [guard] {
        if (!guard) return;
        guard->setProperty(kPendingProperty, false);
        if (guard->isVisible()) FitIntoAvailableArea(*guard);
    });
}

class PlacementFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::Move && type != QEvent::Resize) return false;
        if (!watched->isWidgetType()) return false;
        auto* window = static_cast<QWidget*>(watched);
        if (!IsPlacedWindow(*window)) return false;
        if (type == QEvent::Show) {
            window->setProperty(kSettleProperty, Now() + kSettleMs);
            ScheduleFit(*window);
        } else if (window->isVisible() && Now() < window->property(kSettleProperty).toLongLong()) {
            // The window manager framed or moved the window.
            ScheduleFit(*window);
        }
        return false;
    }
};

}  // namespace

void InstallWindowPlacement(QApplication& app) {
    constexpr char kName[] = "tessarineWindowPlacement";
    if (app.findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly)) return;
    auto* filter = new PlacementFilter(&app);
    filter->setObjectName(QLatin1String(kName));
    app.installEventFilter(filter);
}

bool FitIntoAvailableArea(QWidget& window) {
    QScreen* screen = window.screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return true;
    const QRect area = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    // The frame's own width and height (title bar, borders): zero until the window manager
    // has framed the window.
    const QSize decoration(frame.width() - inner.width(), frame.height() - inner.height());
    const QSize room = area.size() - decoration;
    QSize size = inner.size();
    if (size.width() > room.width() || size.height() > room.height()) {
        size = size.boundedTo(room).expandedTo(window.minimumSize());
        window.resize(size);
    }
    const QSize frameSize = size + decoration;
    const bool fits = frameSize.width() <= area.width() && frameSize.height() <= area.height();
    if (!fits) {
        LOG_ERROR(
            "Window larger than the screen's free area: " + window.objectName().toStdString() +
            " " + std::to_string(frameSize.width()) + "x" + std::to_string(frameSize.height()) +
            " in " + std::to_string(area.width()) + "x" + std::to_string(area.height()));
    }
    // Too large a window keeps its title bar on screen, at the area's top left.
    const int lastX = std::max(area.left(), area.right() - frameSize.width() + 1);
    const int lastY = std::max(area.top(), area.bottom() - frameSize.height() + 1);
    QPoint place(std::clamp(frame.x(), area.left(), lastX),
                 std::clamp(frame.y(), area.top(), lastY));
    if (window.property(kCornerProperty).toBool()) place = QPoint(lastX, lastY);
    if (place != frame.topLeft()) window.move(place);
    return fits;
}

void PlaceInCorner(QWidget& window) {
    window.setProperty(kCornerProperty, true);
    FitIntoAvailableArea(window);
}

void MakeFixedSize(QDialog& dialog) {
    if (QLayout* layout = dialog.layout()) layout->setSizeConstraint(QLayout::SetFixedSize);
    const Qt::WindowFlags type = dialog.windowFlags() & Qt::WindowType_Mask;
    dialog.setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
}

void ShowAsReadOnly(QLineEdit& edit) {
    edit.setReadOnly(true);
    QPalette palette = edit.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Window));
    edit.setPalette(palette);
}

void SizeColumnsToContents(QHeaderView& header, int stretchColumn) {
    header.setStretchLastSection(false);
    header.setSectionResizeMode(QHeaderView::ResizeToContents);
    header.setSectionResizeMode(stretchColumn, QHeaderView::Stretch);
    // A page of rows is enough to measure: the list may hold many more.
    header.setResizeContentsPrecision(200);
}

}  // namespace tessarine::ui
