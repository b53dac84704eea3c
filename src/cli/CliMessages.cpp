#include "cli/CliMessages.h"

#include <memory>

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

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

void UseJapaneseHelp(CLI::App& app) {
    auto formatter = std::make_shared<CLI::Formatter>();
    for (const auto& [key, label] :
         std::initializer_list<std::pair<const char*, const char*>>{{"Usage", "使い方"},
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
    app.formatter(formatter);
    app.option_defaults()->group("オプション");
    app.set_help_flag("-h,--help", "この説明を表示して終了 / print this help and exit");
}

std::string JapaneseFailureMessage(const CLI::Error& error) {
    const std::string what = error.what();
    std::string text;
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        text = "余分な引数があります: " + Detail(what);
    } else if (dynamic_cast<const CLI::RequiredError*>(&error)) {
        if (StartsWith(what, "A subcommand") ||
            StartsWith(what, "Requires at least 1 subcommand")) {
            text = "サブコマンドを指定してください。";
        } else if (what.find(" is required") != std::string::npos) {
            text = Subject(what) + " を指定してください。";
        } else {
            text = "必要な引数が足りません（" + what + "）。";
        }
    } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        text = what.find(" missing") != std::string::npos
                   ? Subject(what) + " に値を指定してください。"
                   : "引数の数が正しくありません（" + what + "）。";
    } else if (dynamic_cast<const CLI::ConversionError*>(&error)) {
        text = StartsWith(what, "Could not convert: ") ? "値を変換できません: " + Detail(what)
                                                       : "値が正しくありません（" + what + "）。";
    } else if (dynamic_cast<const CLI::ValidationError*>(&error)) {
        // Our own checks speak Japanese; the parser's built-in ones are named by the option
        // and the value ("Value -1 not in range ...").
        const std::string detail = Detail(what);
        if (!IsAscii(detail)) {
            text = Subject(what) + ": " + detail + "。";
        } else if (StartsWith(detail, "Value ")) {
            text = Subject(what) + " の値 " + Subject(detail.substr(6)) + " は使えません。";
        } else {
            text = Subject(what) + " の値が正しくありません。";
        }
    } else if (dynamic_cast<const CLI::RequiresError*>(&error)) {
        text = "オプションの組み合わせが正しくありません（" + what + "）。";
    } else if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        text = "同時に指定できないオプションがあります（" + what + "）。";
    } else {
        text = "引数が正しくありません（" + what + "）。";
    }
    return "yubinbox: " + text + "\n使い方は --help で表示されます。\n";
}

void UseJapaneseFailureMessages(CLI::App& app) {
    app.failure_message(
        [](const CLI::App*, const CLI::Error& error) { return JapaneseFailureMessage(error); });
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
        sub->group("サブコマンド");
        if (CLI::Option* help = sub->get_help_ptr()) help->group("オプション");
    }
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
