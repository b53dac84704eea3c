#include "cli/CliMessages.h"

#include <memory>

#include "base/Message.h"

namespace yubin::cli {

namespace {

// The text after the first ": " of the parser's English message (the names or values it
// reports), or the whole message.
std::string Detail(const std::string& what) {
    const size_t colon = what.find(": ");
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

// The text before the first " " or ":" (the option the message is about).
std::string Subject(const std::string& what) {
    const size_t end = what.find_first_of(" :");
    return end == std::string::npos ? what : what.substr(0, end);
}

// The message of the last check of our own that failed.
std::string& LastOwnCheckMessage() {
    static std::string message;
    return message;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The heading of the options in the help.
constexpr const char* kOptionsHeading = TrMark("オプション");

// The parser's help pads its first column by bytes; a Japanese label there (文字列, 必須)
// would push the description out of line. This one pads by the columns a terminal shows.
class DisplayWidthFormatter : public CLI::Formatter {
  public:
    std::string make_option(const CLI::Option* option, bool isPositional) const override {
        return Row(make_option_name(option, isPositional) + make_option_opts(option),
                   make_option_desc(option));
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return Row(sub->get_display_name(true), sub->get_description());
    }

  private:
    std::string Row(const std::string& name, const std::string& description) const {
        const size_t column = get_column_width();
        std::string line = "  " + name;
        if (!description.empty()) {
            const size_t width = DisplayWidth(line);
            line += width >= column ? "\n" + std::string(column, ' ')
                                    : std::string(column - width, ' ');
            for (char c : description) {
                line += c;
                if (c == '\n') line += std::string(column, ' ');
            }
        }
        return line + "\n";
    }
};

}  // namespace

size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? byte : byte & (0x3F >> (length - 1));
        for (size_t k = 1; k < length && i + k < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        // East Asian wide and full-width characters; half-width katakana stay narrow.
        const bool wide =
            (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
            (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
            (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
            (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

void UseLocalHelp(CLI::App& app) {
    auto formatter = std::make_shared<DisplayWidthFormatter>();
    if (CurrentLanguage() == Language::Japanese) {
        for (const auto& [key, label] : std::initializer_list<std::pair<const char*, const char*>>{
                 {"Usage", "使い方"},
                 {"OPTIONS", "オプション"},
                 {"SUBCOMMAND", "サブコマンド"},
                 {"SUBCOMMANDS", "サブコマンド"},
                 {"Positionals", "引数"},
                 {"REQUIRED", "必須"},
                 {"TEXT", "文字列"},
                 {"INT", "整数"},
                 {"UINT", "整数"},
                 {"FLOAT", "数値"},
                 {"Env", "環境変数"},
                 {"Needs", "必要"},
                 {"Excludes", "排他"}}) {
            formatter->label(key, label);
        }
    }
    app.formatter(formatter);
    app.option_defaults()->group(Tr(kOptionsHeading));
    app.set_help_flag("-h,--help", Tr("この説明を表示して終了"));
}

std::string OwnCheckFailed(std::string message) {
    LastOwnCheckMessage() = message;
    return message;
}

std::string FailureMessage(const CLI::Error& error) {
    const std::string what = error.what();
    std::string text;
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::string extra = Detail(what);
        text = Format(extra.rfind('-', 0) == 0 ? Tr("不明なオプションです: {1}")
                                               : Tr("余分な引数があります: {1}"),
                      extra);
    } else if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        if (StartsWith(what, "A subcommand") ||
            StartsWith(what, "Requires at least 1 subcommand")) {
            text = Tr("サブコマンドを指定してください。");
        } else if (what.find(" is required") != std::string::npos) {
            text = Format(Tr("{1} を指定してください。"), Subject(what));
        } else {
            text = Format(Tr("必要な引数が足りません（{1}）。"), what);
        }
    } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        text = what.find(" missing") != std::string::npos
                   ? Format(Tr("{1} に値を指定してください。"), Subject(what))
                   : Format(Tr("引数の数が正しくありません（{1}）。"), what);
    } else if (dynamic_cast<const CLI::ConversionError*>(&error)) {
        text = StartsWith(what, "Could not convert: ")
                   ? Format(Tr("値を変換できません: {1}"), Detail(what))
                   : Format(Tr("値が正しくありません（{1}）。"), what);
    } else if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        // Our own checks say what is wrong; the parser's built-in ones are named by the option
        // and the value ("Value -1 not in range ...").
        const std::string detail = Detail(what);
        if (!detail.empty() && detail == LastOwnCheckMessage()) {
            text = Format(Tr("{1}: {2}。"), Subject(what), detail);
        } else if (StartsWith(detail, "Value ")) {
            text =
                Format(Tr("{1} の値 {2} は使えません。"), Subject(what), Subject(detail.substr(6)));
        } else {
            text = Format(Tr("{1} の値が正しくありません。"), Subject(what));
        }
    } else if (dynamic_cast<const CLI::RequiresError*>(&error)) {
        text = Format(Tr("オプションの組み合わせが正しくありません（{1}）。"), what);
    } else if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        text = Format(Tr("同時に指定できないオプションがあります（{1}）。"), what);
    } else {
        text = Format(Tr("引数が正しくありません（{1}）。"), what);
    }
    return "yubinbox: " + text + "\n" + Tr(kSeeHelp) + "\n";
}

void UseLocalFailureMessages(CLI::App& app) {
    app.failure_message(
        [](const CLI::App*, const CLI::Error& error) { return FailureMessage(error); });
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
        sub->group(Tr("サブコマンド"));
        if (CLI::Option* help = sub->get_help_ptr()) help->group(Tr(kOptionsHeading));
    }
}

std::optional<std::string> UnknownLeadingOption(const CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] != '-' || argv[1][1] == '\0') return std::nullopt;
    std::string name = argv[1];
    name = name.substr(0, name.find('='));
    if (app.get_option_no_throw(name) != nullptr) return std::nullopt;
    return name;
}

std::optional<std::string> UnknownSubcommand(const CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return std::nullopt;
    const std::string word = argv[1];
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->check_name(word)) return std::nullopt;
    }
    return word;
}

}  // namespace yubin::cli
