// korrin convert: a TrueType font to a PostScript Type 42 font.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "command.h"
#include "convert/tt2ps.h"
#include "core/file.h"
#include "tablepath.h"
#include "xlat/xman.h"

namespace {

using namespace korrin;

struct ConvertOptions {
    std::string font;
    std::string output;
    int encoding = 1;
    std::string name;
    bool longTables = false;
    std::string tables;
};

std::string fontError(int code) { return "font error " + std::to_string(code) + ": " + TrueTypeFont::message(code); }

// The output file, closed on every path; a regular file that was not
// written completely is removed.
class Output {
public:
    explicit Output(const std::string& path) : path_(path)
    {
        if (path == "-") {
            file_ = stdout;
            return;
        }
        file_ = std::fopen(path.c_str(), "w");
        struct stat st;
        regular_ = file_ && ::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    }
    ~Output()
    {
        if (file_ && file_ != stdout)
            std::fclose(file_);
        if (!complete_ && regular_)
            ::unlink(path_.c_str());
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    std::FILE* get() const { return file_; }
    // Flushes and closes; false (with errno set) when any write failed.
    bool finish()
    {
        bool ok = !std::ferror(file_);
        if (file_ == stdout) {
            ok = std::fflush(stdout) == 0 && ok;
        } else {
            ok = std::fclose(file_) == 0 && ok;
            file_ = nullptr;
        }
        complete_ = ok;
        return ok;
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool regular_ = false;
    bool complete_ = false;
};

int convert(const ConvertOptions& o)
{
    std::unique_ptr<TrueTypeFont> font;
    std::unique_ptr<Type42Conversion> conversion;
    XlatManager tables(o.tables.c_str());
    try {
        font = std::make_unique<TrueTypeFont>(o.font.c_str());
        conversion = std::make_unique<Type42Conversion>(*font, o.encoding, &tables, o.longTables, o.name.c_str());
    } catch (const TT2T42Error& e) {
        std::string what = o.font + ": conversion error " + std::to_string(e.code) + ": " + TT2T42Error::message(e.code);
        if (e.code == TT2T42Error::noTranslationTable)
            what += " (encoding " + std::to_string(o.encoding) + " in " + o.tables + ")";
        return cli::fail(what);
    } catch (int code) {
        return cli::fail(o.font + ": " + fontError(code));
    } catch (TrueTypeFont::TT_ERROR code) {
        return cli::fail(o.font + ": " + fontError(code));
    } catch (const file::fileerror& e) {
        return cli::fail("a translation table in " + o.tables + " cannot be read: " + e.message.c_str());
    }

    // Nothing is created before the font has passed every check.
    Output out(o.output);
    if (!out.get())
        return cli::fail(o.output + ": cannot create the output file: " + std::strerror(errno));
    try {
        conversion->write(out.get());
    } catch (int code) {
        return cli::fail(o.font + ": " + fontError(code));
    } catch (TrueTypeFont::TT_ERROR code) {
        return cli::fail(o.font + ": " + fontError(code));
    }
    if (!out.finish())
        return cli::fail(o.output + ": cannot write the output file: " + std::strerror(errno));
    return cli::exitOk;
}

cli::Command convertCommand("convert", "Convert a TrueType font to a PostScript Type 42 font", [](CLI::App& sub) {
    auto o = std::make_shared<ConvertOptions>();
    sub.add_option("FONT", o->font, "The TrueType font file")->required();
    sub.add_option("-o,--output", o->output, "The Type 42 font to write; - for standard output")
        ->required()
        ->type_name("OUT");
    sub.add_option("--encoding", o->encoding,
                   "How byte codes 0 to 255 of the Encoding are read: a translation-table encoding "
                   "(1 ISO 8859-1, 100 Windows-1252, ...; see korrin tables)")
        ->capture_default_str();
    sub.add_option("--name", o->name, "The PostScript name to give the font (default: its own)")
        ->type_name("PSNAME");
    sub.add_flag("--long-tables", o->longTables, "Allow tables other than 'glyf' to exceed one 65534-byte string");
    cli::addTablesOption(sub, o->tables);
    sub.footer("Every check is made before the output file is created; a failure prints the error's code and "
               "reason and exits with 1.");
    return [o] { return convert(*o); };
});

} // namespace
