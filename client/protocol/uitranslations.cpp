#include "uitranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool UiTranslations::install(QCoreApplication& app)
{
    // Owned by the application: installed once, for the program's whole run.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return app.installTranslator(translator);
}
