// Qt's own texts (the standard buttons, the file dialog, context menus of text fields) in
// Japanese, from the translations Qt ships (Debian: qt6-translations-l10n).
#pragma once

class QCoreApplication;

namespace tessarine::ui {

// Loads Qt's Japanese translation into `app`; false (and a log line) when it is not installed,
// which leaves Qt's texts in English. Idempotent.
bool InstallQtTranslation(QCoreApplication& app);

}  // namespace tessarine::ui
