#include "base/Translation.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace yubin {

namespace {

constexpr const char* kDomain = "yubinbox";

Language g_language = Language::Japanese;

bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

// "ja_JP.UTF-8" -> "ja", "en" -> "en", "C.UTF-8" -> "C".
std::string_view LanguagePart(std::string_view locale) {
    return locale.substr(0, locale.find_first_of("_.@"));
}

bool IsCLocale(std::string_view locale) {
    return locale == "C" || locale == "POSIX" || locale.starts_with("C.");
}

}  // namespace

Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang,
                          const char* language) {
    const char* chosen = IsSet(lcAll) ? lcAll : IsSet(lcMessages) ? lcMessages : lang;
    if (!IsSet(chosen) || IsCLocale(chosen)) return Language::Japanese;
    if (IsSet(language)) {
        std::string_view list = language;
        while (!list.empty()) {
            const size_t colon = list.find(':');
            const std::string_view name = LanguagePart(list.substr(0, colon));
            if (name == "ja") return Language::Japanese;
            if (name == "en") return Language::English;
            list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
        }
    }
    return LanguagePart(chosen) == "ja" ? Language::Japanese : Language::English;
}

Language LanguageOfEnvironment() {
    return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"),
                            std::getenv("LANGUAGE"));
}

std::string LocaleFolder(const std::string& programFolder) {
    const std::filesystem::path beside = std::filesystem::path(programFolder) / "locale";
    std::error_code ec;
    if (std::filesystem::is_directory(beside, ec)) return beside.string();
#ifdef YUBIN_LOCALE_FROM_PROGRAM
    return (std::filesystem::path(programFolder) / YUBIN_LOCALE_FROM_PROGRAM)
        .lexically_normal()
        .string();
#else
    return "/usr/share/locale";
#endif
}

void UseLanguage(Language language, const std::string& localeFolder) {
    g_language = language;
    if (language == Language::Japanese) return;
    // gettext finds a catalogue only under a locale other than C, and then by the languages
    // LANGUAGE lists. The locale the user named may not be generated; C.UTF-8 is built into
    // the C library. Only the messages' category changes: numbers and character classes stay
    // as the C locale has them.
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) std::setlocale(LC_MESSAGES, "");
    setenv("LANGUAGE", "en", 1);
    bindtextdomain(kDomain, localeFolder.c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
}

Language CurrentLanguage() { return g_language; }

const char* Tr(const char* msgid) {
    if (g_language == Language::Japanese || msgid == nullptr || msgid[0] == '\0') return msgid;
    return dgettext(kDomain, msgid);
}

std::string Tr(const std::string& msgid) { return Tr(msgid.c_str()); }

}  // namespace yubin
