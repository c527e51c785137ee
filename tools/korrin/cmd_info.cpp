// korrin info: the names of a TrueType font, as the application's font
// dialogs get them, or the glyph names of its 'post' table.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "command.h"
#include "truetype/truetype.h"

namespace {

using namespace korrin;

struct InfoOptions {
    std::string font;
    bool json = false;
    bool glyphs = false;
};

// Text with its control characters and backslashes escaped, so that a value
// stays on its line: as C does (\x1B) for the "Key: value" lines, as JSON
// does (\u001b, and \" as well) inside a JSON string.
std::string escaped(const std::string& text, bool json)
{
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += json ? "\\\"" : "\""; break;
        default:
            if (c < 0x20 || (!json && c == 0x7F)) {
                char hex[8];
                std::snprintf(hex, sizeof hex, json ? "\\u%04x" : "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string oneLine(const std::string& text) { return escaped(text, false); }
std::string jsonString(const std::string& text) { return "\"" + escaped(text, true) + "\""; }

int printNames(const TrueTypeFont& font, bool json)
{
    const NamingTable2& n = font.namingTable();
    // The five values parseInfo hands to the application, in its order.
    const std::pair<const char*, const char*> fields[] = {
        {"PostScript name", n.postScriptName()},
        {"Full name", n.fullName()},
        {"Unique ID", n.uniqueID()},
        {"Notice", n.notice()},
        {"Type", "TrueType"},
    };
    const char* jsonKeys[] = {"postScriptName", "fullName", "uniqueID", "notice", "type"};
    if (json) {
        std::cout << "{";
        for (int i = 0; i < 5; ++i)
            std::cout << (i ? ", " : "") << jsonString(jsonKeys[i]) << ": " << jsonString(Latin1ToUtf8(fields[i].second));
        std::cout << "}\n";
    } else {
        for (const auto& [key, value] : fields)
            std::cout << key << ": " << oneLine(Latin1ToUtf8(value)) << "\n";
    }
    return cli::exitOk;
}

int printGlyphNames(const TrueTypeFont& font)
{
    GlyphTable table(font.GetTableData(tagPost));
    for (int g = 0; g < font.glyphCount(); ++g)
        std::cout << g << " " << oneLine(Latin1ToUtf8(GetGlyphByNumber(table, g))) << "\n";
    return cli::exitOk;
}

cli::Command infoCommand("info", "Print the names of a TrueType font", [](CLI::App& sub) {
    auto opts = std::make_shared<InfoOptions>();
    sub.add_option("FONT", opts->font, "The TrueType font file")->required();
    auto* json = sub.add_flag("--json", opts->json, "Print the names as one JSON object");
    sub.add_flag("--glyphs", opts->glyphs, "Print each glyph's number and 'post' table name instead")->excludes(json);
    sub.footer("Prints the PostScript name, full name, unique ID, notice and type, one \"Key: value\" line each.\n"
               "Name bytes are read as Latin-1 and printed as UTF-8; control characters appear as C escapes\n"
               "(\\n), --json gives the exact text. A file that does not load prints why and exits with 1.");
    return [opts] {
        try {
            TrueTypeFont font(opts->font.c_str());
            return opts->glyphs ? printGlyphNames(font) : printNames(font, opts->json);
        } catch (int code) {
            return cli::fail(opts->font + ": " + TrueTypeFont::message(code));
        } catch (TrueTypeFont::TT_ERROR code) {
            return cli::fail(opts->font + ": " + TrueTypeFont::message(code));
        }
    };
});

} // namespace
