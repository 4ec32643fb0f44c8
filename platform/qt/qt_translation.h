#pragma once
// Qt's own texts (the file dialog's title, labels and buttons, the standard
// buttons of message boxes) in the user's language, where a translation of
// Qt is there: in translations/ beside the program in the portable folder
// (its qt.conf says so), the system's Qt translations otherwise. Qt's
// English stays where there is none.

#include <QLocale>
#include <QTranslator>
#include <memory>

namespace platform::qt {

// The loaded translation of Qt for locale, or nullptr. Qt translates into
// Chinese as written in mainland China and in Taiwan: Hong Kong and Macau
// read the traditional one, Singapore the simplified one.
std::unique_ptr<QTranslator> QtTranslation(const QLocale& locale);

}  // namespace platform::qt
