#include "platform/qt/qt_translation.h"

#include <QLibraryInfo>
#include <QString>

namespace platform::qt {

namespace {

QString TranslationsFolder() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

}  // namespace

std::unique_ptr<QTranslator> QtTranslation(const QLocale& locale) {
    const QString folder = TranslationsFolder();
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) return translator;
    if (locale.language() != QLocale::Chinese) return nullptr;
    const bool traditional = locale.script() == QLocale::TraditionalChineseScript;
    if (translator->load(traditional ? QStringLiteral("qtbase_zh_TW") : QStringLiteral("qtbase_zh_CN"), folder)) {
        return translator;
    }
    return nullptr;
}

}  // namespace platform::qt
