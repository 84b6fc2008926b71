#include "ui/controls/locale.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

namespace kestrel {

OBCLocale::OBCLocale(const QString& product) : product_(product) {}

OBCLocale::~OBCLocale() {
    if (translator_) QCoreApplication::removeTranslator(translator_.get());
}

QString OBCLocale::keyPath() const { return QStringLiteral("Software/Orvane Technologies/") + product_; }

int OBCLocale::storedChoice() const {
    const QSettings machine(QSettings::SystemScope, QStringLiteral("Orvane Technologies"), product_);
    bool ok = false;
    const int value = machine.value(QStringLiteral("locale")).toInt(&ok);
    return ok ? value : 0;
}

int OBCLocale::chooseLanguage(const QString& baseName) {
    bool french = false;
    switch (storedChoice()) {
        case 1: french = false; break;
        case 2: french = true; break;
        default: french = QLocale::system().language() == QLocale::French; break;
    }
    language_ = kLanguageEnglish;
    if (french) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(baseName + QStringLiteral("fra"), QCoreApplication::applicationDirPath())) {
            QCoreApplication::installTranslator(translator.get());
            translator_ = std::move(translator);
            language_ = kLanguageFrench;
        }
    }
    return language_;
}

}  // namespace kestrel
