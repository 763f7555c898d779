#include "ui/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "base/app_log.h"

namespace tessarine::ui {

bool InstallQtTranslation(QCoreApplication& app) {
    constexpr char kName[] = "tessarineQtTranslation";
    if (app.findChild<QTranslator*>(QLatin1String(kName), Qt::FindDirectChildrenOnly)) return true;
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(kName));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        LOG_ERROR("Qt Japanese Translation Not Found In " + folder.toStdString() +
                  " (package qt6-translations-l10n)");
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace tessarine::ui
