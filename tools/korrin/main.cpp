// korrin: the library's capabilities from the command line.
#include <algorithm>
#include <iostream>
#include <memory>

#include "command.h"

namespace korrin::cli {

std::vector<CommandEntry>& commands()
{
    static std::vector<CommandEntry> all;
    return all;
}

int fail(const std::string& what)
{
    std::cerr << "korrin: " << what << "\n";
    return exitFailure;
}

} // namespace korrin::cli

int main(int argc, char** argv)
{
    using namespace korrin::cli;
    CLI::App app("korrin: convert TrueType fonts to PostScript, download fonts to PostScript printers, "
                 "and manage what the printers hold.",
                 "korrin");
    app.set_version_flag("--version", KORRIN_VERSION);
    app.require_subcommand(1);

    auto& entries = commands();
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<std::pair<CLI::App*, Action>> actions;
    for (auto& e : entries) {
        CLI::App* sub = app.add_subcommand(e.name, e.description);
        actions.emplace_back(sub, e.setup(*sub));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? exitOk : exitUsage;
    }
    for (auto& [sub, action] : actions)
        if (sub->parsed())
            return action();
    return exitUsage;
}
