// The translation tables from the command line: list what a table path holds,
// and translate codes through one of its tables.
#include <cstdio>
#include <optional>

#include "command.h"
#include "core/file.h"
#include "tablepath.h"
#include "xlat/xman.h"

namespace {

using namespace korrin;

// A code in hexadecimal, with or without 0x, at most 32 bits.
std::optional<unsigned> parseHexCode(std::string text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.erase(0, 2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return value;
}

const CLI::Validator hexCode(
    [](std::string& text) { return parseHexCode(text) ? std::string() : "not a hexadecimal code: " + text; },
    "HEX");

std::string describe(int encoding) { return std::to_string(encoding) + " (" + XlatManager::encname(encoding) + ")"; }

cli::Command tablesCommand("tables", "List the translation tables found on a table path", [](CLI::App& sub) {
    auto path = std::make_shared<std::string>();
    cli::addTablesOption(sub, *path);
    sub.footer("One line per table, fields separated by tabs: from-encoding, to-encoding, format, entry count, "
               "file, default strings 1 to 4 (display name, charset, script, source).");
    return [path] {
        XlatManager manager(path->c_str());
        if (manager.countTables() == 0)
            return cli::fail("no translation tables in " + *path);
        for (int i = 0; i < manager.countTables(); ++i) {
            const XlatDescRecord* d = manager.getXlatDescArray()[i];
            std::printf("%u\t%u\t%u\t%u\t%s", d->from, d->to, d->format, d->entries, d->file.full().c_str());
            for (int n = 1; n <= 4; ++n)
                std::printf("\t%s", XlatManager::GetDefaultString(d, n).c_str());
            std::printf("\n");
        }
        return cli::exitOk;
    };
});

cli::Command xlatCommand("xlat", "Translate codes through a translation table", [](CLI::App& sub) {
    struct Options {
        int from = 0;
        int to = 1;
        std::vector<std::string> codes;
        std::string path;
    };
    auto o = std::make_shared<Options>();
    sub.add_option("--from", o->from, "The encoding of the codes (2 ShiftJIS, 3 Big5, ...; see korrin tables)")
        ->required();
    sub.add_option("--to", o->to, "The encoding to translate to")->capture_default_str();
    sub.add_option("CODE", o->codes, "Codes in hexadecimal")->required()->check(hexCode);
    cli::addTablesOption(sub, o->path);
    sub.footer("Prints the translated value of each code in hexadecimal, one per line, or \"unmapped\".");
    return [o] {
        XlatManager manager(o->path.c_str());
        const XlatDescRecord* desc = manager.findTable(o->from, o->to);
        if (!desc)
            return cli::fail("no translation table from " + describe(o->from) + " to " + describe(o->to) + " in " +
                             o->path);
        XlatTablePtr table;
        try {
            table.reset(manager.loadTable(desc));
        } catch (const file::fileerror& e) {
            return cli::fail(std::string(desc->file.full().c_str()) + ": " + e.message.c_str());
        }
        if (!table)
            return cli::fail(std::string(desc->file.full().c_str()) + ": not a table of a known format");
        for (const std::string& text : o->codes) {
            const unsigned value = xlat(table.get(), *parseHexCode(text));
            if (value == 0xFFFFFFFFu)
                std::printf("unmapped\n");
            else
                std::printf("%04X\n", value);
        }
        return cli::exitOk;
    };
});

} // namespace
