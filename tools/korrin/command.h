// Subcommands of the korrin tool. Each lives in its own file and registers
// itself with a static Command object:
//
//   static korrin::cli::Command info("info", "Print the names of a TrueType font",
//       [](CLI::App& sub) { auto opts = ...; sub.add_option(...);
//                           return [opts] { ...; return 0; }; });
//
// The setup function declares the options and returns the action that runs
// after a successful parse; the action's result is the exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace korrin::cli {

using Action = std::function<int()>;
using Setup = std::function<Action(CLI::App&)>;

struct CommandEntry {
    std::string name;
    std::string description;
    Setup setup;
};

std::vector<CommandEntry>& commands();

struct Command {
    Command(std::string name, std::string description, Setup setup)
    {
        commands().push_back({std::move(name), std::move(description), std::move(setup)});
    }
};

// Exit statuses shared by every subcommand.
constexpr int exitOk = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// Prints "korrin: <what>" on standard error and returns exitFailure.
int fail(const std::string& what);

} // namespace korrin::cli
