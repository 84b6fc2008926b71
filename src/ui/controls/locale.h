// The choice of the user-interface language: a machine-wide "locale" value
// (1 English, 2 French) or, without one, the user's own language.
#pragma once

#include <QString>
#include <memory>

class QTranslator;

namespace kestrel {

inline constexpr int kLanguageEnglish = 1033;
inline constexpr int kLanguageFrench = 1036;

class OBCLocale {
public:
    explicit OBCLocale(const QString& product);
    ~OBCLocale();

    // Settings path of the product under the company key.
    QString keyPath() const;
    // Picks the language and, for French, installs the translation
    // `baseName` + "fra" from the program's folder; English when it does
    // not load. Returns the language code.
    int chooseLanguage(const QString& baseName);
    int language() const { return language_; }

    // The machine-wide value (0 when absent).
    int storedChoice() const;

private:
    QString product_;
    int language_ = kLanguageEnglish;
    std::unique_ptr<QTranslator> translator_;
};

}  // namespace kestrel
