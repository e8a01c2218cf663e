#include "CommandLineKit.h"

#include "ToolText.h"

namespace cli {

namespace {

// CLI11 reports a refused argument through this exception, with our message.
struct Refused : CLI::ParseError {
    explicit Refused(const std::string& message) : CLI::ParseError("Refused", message, 64) {}
};

std::string longName(const std::string& names) {
    const std::string::size_type dashes = names.find("--");
    return names.substr(dashes, names.find(',', dashes) - dashes);
}

std::string quoted(const std::string& text) {
    return "'" + printableText(text) + "'";
}

// CLI11's own words for a missing or unwanted argument, in ours.
std::string mismatchText(const std::string& what) {
    std::string name = what.substr(0, what.find_first_of(": "));
    name = name.compare(0, 1, "-") == 0 ? name : "--" + name;
    return "option " + name +
           (what.find("flag override") != std::string::npos ? " takes no argument"
                                                            : " requires an argument");
}

std::string optionHelp(const CLI::Option& o) {
    std::string names = "  ";
    names += o.get_snames().empty() ? "    " : "-" + o.get_snames().front() + ", ";
    names += "--" + o.get_lnames().front();
    if (!o.get_type_name().empty() && o.get_expected_max() != 0) {
        names += " " + o.get_type_name();
    }
    std::string text = names.size() <= 26 ? names + std::string(27 - names.size(), ' ')
                                          : names + "\n" + std::string(27, ' ');
    for (const char c : o.get_description()) {
        text += c;
        if (c == '\n') {
            text += std::string(27, ' ');
        }
    }
    return text + "\n";
}

} // namespace

Convert decimal(unsigned& target, unsigned min, unsigned max) {
    return [&target, min, max](const std::string& v, std::string& why) {
        unsigned n = 0;
        if (!parseDecimalNumber(v, max, n) || n < min) {
            why = "expected a decimal number " + std::to_string(min) + ".." + std::to_string(max);
            return false;
        }
        target = n;
        return true;
    };
}

Convert text(std::string& target, const char* what) {
    return [&target, what](const std::string& v, std::string& why) {
        target = v;
        why = std::string("empty ") + what;
        return !v.empty();
    };
}

CLI::Option* valued(CLI::App& app, const std::string& names, const std::string& argument,
                    const std::string& group, const std::string& help, const Convert& convert) {
    const std::string name = longName(names);
    CLI::Option* option = app.add_option_function<std::string>(
        names,
        [name, convert](const std::string& v) {
            std::string why;
            if (!convert(v, why)) {
                throw Refused("invalid " + name + " " + quoted(v) + ": " + why);
            }
        },
        help);
    option->type_name(argument)->group(group)->trigger_on_parse();
    return option;
}

CLI::Option* flag(CLI::App& app, const std::string& names, const std::string& group,
                  const std::string& help, const std::function<void()>& set) {
    CLI::Option* option = app.add_flag_callback(names, set, help);
    option->group(group)->trigger_on_parse();
    return option;
}

void prepare(CLI::App& app) {
    app.option_defaults()->disable_flag_override();
    app.allow_extras();
    app.set_help_flag();
}

Outcome parse(CLI::App& app, const CLI::App& command, std::vector<std::string> arguments,
              std::string& error) {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return Outcome::Help;
    } catch (const CLI::CallForVersion&) {
        return Outcome::Version;
    } catch (const CLI::ArgumentMismatch& e) {
        error = mismatchText(e.what());
        return Outcome::UsageError;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return Outcome::UsageError;
    }
    const std::vector<std::string> extra = command.remaining();
    if (!extra.empty()) {
        error = (extra[0].size() > 1 && extra[0][0] == '-' ? "unknown or ambiguous option "
                                                           : "unexpected argument ") +
                quoted(extra[0]);
        return Outcome::UsageError;
    }
    return Outcome::Run;
}

std::string optionsHelp(const CLI::App& app, bool optionsHeading) {
    std::string text;
    for (const std::string& group : app.get_groups()) {
        if (group.empty()) {
            continue; // positionals
        }
        text += group == "Options" && !optionsHeading ? "\n" : "\n" + group + ":\n";
        for (const CLI::Option* o : app.get_options()) {
            if (o->get_group() == group) {
                text += optionHelp(*o);
            }
        }
    }
    return text;
}

} // namespace cli
