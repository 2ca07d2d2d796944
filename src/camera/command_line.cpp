#include "camera/command_line.h"

#include <algorithm>
#include <cstdio>

namespace tern::camera {

namespace {

/// The option an error names: the text before ": " or " was given".
std::string NameIn(const std::string& message) {
    const std::size_t colon = message.find(": ");
    const std::size_t given = message.find(" was given");
    return message.substr(0, std::min(colon, given));
}

/// CLI11's wording of an error, in the words of this project's programs.
std::string PlainError(const CLI::Error& e) {
    const std::string message = e.what();
    if (e.get_name() == "ArgumentMismatch") {
        if (message.find(" was given a disallowed flag override") != std::string::npos) {
            const std::string name = NameIn(message);  // without its dashes
            return (name.size() == 1 ? "-" : "--") + name + " takes no value";
        }
        if (message.find(" missing") != std::string::npos || message.find(" required") != std::string::npos) {
            return NameIn(message) + " needs a value";
        }
    }
    return message;
}

/// Option names as they are typed: a flag's default values ("--pal{true}") left out.
class PlainFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* opt, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(opt, positional);
        for (std::size_t open; (open = name.find('{')) != std::string::npos;) {
            const std::size_t close = name.find('}', open);
            name.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
        }
        return name;
    }
};

}  // namespace

std::shared_ptr<CLI::Formatter> UsePlainHelp(CLI::App& app) {
    auto formatter = std::make_shared<PlainFormatter>();
    formatter->column_width(24);
    app.formatter(formatter);
    return formatter;
}

ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string_view unknownWhat) {
    ParseOutcome outcome;
    UsePlainHelp(app);
    app.allow_extras();
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        outcome.help = true;
        return outcome;
    } catch (const CLI::ParseError& e) {
        outcome.error = PlainError(e);
        return outcome;
    }
    std::vector<std::string> extra = app.remaining();
    std::erase(extra, "--");  // the end of the options is kept among the extras
    if (!extra.empty()) outcome.error = "unknown " + std::string(unknownWhat) + " '" + Printable(extra.front()) + "'";
    return outcome;
}

CLI::Option* AddNamedValue(CLI::App& app, const std::string& name, std::string& into, const std::string& what,
                           const std::string& typeName, const std::string& help) {
    return app.add_option(name, into, help)
        ->option_text(typeName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(CLI::Validator(
            [what](std::string& value) {
                if (value.empty()) return "the " + what + " name is empty";
                // "--port --port2 X": the next option is not a device name.
                if (value.starts_with("--")) return "expected a " + what + " name, got the option '" + value + "'";
                return std::string();
            },
            ""));
}

std::string Printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tern::camera
