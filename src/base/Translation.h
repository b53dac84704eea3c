// The language of the command line's messages. Every message is written in Japanese, and the
// Japanese text is its key in the catalogue (po/en.po, compiled to
// <locale folder>/en/LC_MESSAGES/yubinbox.mo and read through the C library's gettext). Until
// UseLanguage chooses English, Tr gives back its argument: the windows, which never choose,
// keep their Japanese texts whatever the locale.
#pragma once

#include <string>

namespace yubin {

enum class Language { Japanese, English };

// The language the locale variables choose: the first set of LC_ALL, LC_MESSAGES and LANG
// names the locale; none, C, C.<codeset> and POSIX are Japanese (as the program has always
// spoken), ja_* Japanese and every other locale English. Under a locale other than C, the
// first language of LANGUAGE (colon-separated) that is ja or en wins. Nulls stand for unset
// variables.
Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang,
                          const char* language);
// The same for this process's environment.
Language LanguageOfEnvironment();

// The folder of the catalogues of a program in `programFolder`: beside the executable in a
// build tree (its locale/ holds en/LC_MESSAGES/yubinbox.mo), else the system's folder of the
// installed package (/usr/lib/yubinbox -> /usr/share/locale).
std::string LocaleFolder(const std::string& programFolder);

// From here on Tr speaks `language`, with the catalogues in `localeFolder`. English needs no
// generated locale: the catalogue is chosen by name whatever locales the system has.
void UseLanguage(Language language, const std::string& localeFolder);
Language CurrentLanguage();

// The message in the current language; `msgid` itself when it is Japanese or the catalogue
// has no translation of it.
const char* Tr(const char* msgid);
std::string Tr(const std::string& msgid);

// Marks a message for the catalogue where it is written down (a table, a constant); it is
// translated where it is shown.
constexpr const char* TrMark(const char* msgid) { return msgid; }

// How a composer of texts shared by the windows and the command line is told the language:
// Untranslated keeps the Japanese (the windows), Translated is Tr.
using Translator = const char* (*)(const char*);
inline const char* Untranslated(const char* msgid) { return msgid; }
inline const char* Translated(const char* msgid) { return Tr(msgid); }

}  // namespace yubin
