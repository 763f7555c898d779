// The input checks and message boxes every settings dialog shares, with the message boxes
// behind a small seam so that tests read what the user would have been told.
#pragma once
#include <QString>
#include <string>

class QLineEdit;
class QWidget;

namespace tessarine::ui {
class CLrcReaderWrapper;

// Shows the message boxes; tests record them instead.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    virtual void Warning(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void Information(QWidget* parent, const QString& caption, const QString& text) = 0;
    // True for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
};

class QtMessagePresenter : public MessagePresenter {
public:
    void Warning(QWidget* parent, const QString& caption, const QString& text) override;
    void Information(QWidget* parent, const QString& caption, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
};

// Replaces the "%s" marks of a message one after another.
QString FillMessage(const std::string& pattern, const std::string& first,
                    const std::string& second = "");

class CDialogUtility {
public:
    CDialogUtility(QWidget& owner, const CLrcReaderWrapper& strings, MessagePresenter& messages);

    void ShowWarning(unsigned messageId);
    void ShowWarningText(const QString& text);
    // True for Yes: discard the unsaved backup settings.
    bool AskDiscardBackupChanges();
    void SetMessageIds(unsigned fieldNameId, unsigned rangeTextId, unsigned formTextId);
    // Empty, anything but the digits 0-9, or a number outside the range fails; with `show` the
    // matching warning is shown.
    bool ValidateNumber(const QLineEdit& edit, long minimum, long maximum, bool show);
    bool ValidatePort(const QLineEdit& edit, unsigned fieldNameId, bool show);
    static bool IsValidIPv4Text(const std::string& text);

    const CLrcReaderWrapper& Strings() const { return strings_; }
    MessagePresenter& Messages() { return messages_; }

private:
    QWidget& owner_;
    const CLrcReaderWrapper& strings_;
    MessagePresenter& messages_;
    unsigned fieldNameId_ = 0;
    unsigned rangeTextId_ = 0;
    unsigned formTextId_ = 0;
};

}  // namespace tessarine::ui
