#include "ui/strings/caption_apply.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QWidget>

#include "ui/strings/lrc_reader_wrapper.h"

namespace tessarine::ui {

QString ControlObjectName(unsigned controlId) {
    return QStringLiteral("ctl") + QString::number(controlId);
}

unsigned ControlIdOf(const QString& objectName) {
    static const QRegularExpression kPattern(QStringLiteral("^ctl([1-9][0-9]{0,8})$"));
    const QRegularExpressionMatch match = kPattern.match(objectName);
    return match.hasMatch() ? match.captured(1).toUInt() : 0;
}

QString AccessibleNameOf(const QString& caption) {
    static const QRegularExpression kAppendedKey(QStringLiteral("[(（]&[^&][)）]"));
    QString text = caption;
    text.remove(kAppendedKey);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out.trimmed();
}

void ApplyCaptions(QWidget& root, unsigned dialog, const CLrcReaderWrapper& strings) {
    const auto widgets = root.findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        const unsigned id = ControlIdOf(widget->objectName());
        if (id == 0) continue;
        const QString caption = QString::fromStdString(strings.Caption(dialog, id));
        if (caption.isEmpty()) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            button->setText(caption);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(caption);
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            group->setTitle(caption);
        }
        widget->setAccessibleName(AccessibleNameOf(caption));
    }
    // Labels name the fields they stand beside.
    for (QWidget* widget : widgets) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr || label->buddy() == nullptr) continue;
        if (label->buddy()->accessibleName().isEmpty() && !label->accessibleName().isEmpty()) {
            label->buddy()->setAccessibleName(label->accessibleName());
        }
    }
}

}  // namespace tessarine::ui
