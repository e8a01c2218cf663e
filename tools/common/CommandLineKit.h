#ifndef VELK_COMMANDLINEKIT_H
#define VELK_COMMANDLINEKIT_H

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

// The tools' command lines on CLI11: each option defined once with its
// argument's conversion and range and its help text; arguments converted in
// command-line order (a later option wins); refusals and the help worded
// alike in both tools.
namespace cli {

// Converts an argument; on refusal why says what was expected ("expected a
// decimal number 1..254").
using Convert = std::function<bool(const std::string& value, std::string& why)>;

Convert decimal(unsigned& target, unsigned min, unsigned max);
// The argument as it is; refused when empty.
Convert text(std::string& target, const char* what);

// An option with an argument: a refusal reads "invalid --name 'value': why".
CLI::Option* valued(CLI::App& app, const std::string& names, const std::string& argument,
                    const std::string& group, const std::string& help, const Convert& convert);
CLI::Option* flag(CLI::App& app, const std::string& names, const std::string& group,
                  const std::string& help, const std::function<void()>& set);

// A command line without extras, flags without arguments, no help of CLI11's own.
void prepare(CLI::App& app);

enum class Outcome { Run, Help, Version, UsageError };

// Parses arguments (without the program's name); command is the (sub)command
// whose unknown arguments are reported. A usage error leaves a one-line error.
Outcome parse(CLI::App& app, const CLI::App& command, std::vector<std::string> arguments,
              std::string& error);

// The options of a command as the help lists them, group by group in the
// order of their definition (the group "Options" with a heading only when
// asked), names and argument in a column of 27.
std::string optionsHelp(const CLI::App& app, bool optionsHeading = false);

} // namespace cli

#endif
