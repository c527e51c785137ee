// Where subcommands look for translation tables when the user names none.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace korrin::cli {

// The tables of this build when they exist, else those of the installation.
std::string defaultTablePath();

// Declares --tables DIR (colon-separated, like every search path of korrin)
// on a subcommand, with defaultTablePath() as its default.
void addTablesOption(CLI::App& sub, std::string& path);

} // namespace korrin::cli
