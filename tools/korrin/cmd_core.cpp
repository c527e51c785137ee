// Small commands over the core utilities: file checksums and the splitting of
// search paths, as every search-path option of korrin reads them.
#include <cstdio>
#include <iostream>

#include "command.h"
#include "core/crctable.h"
#include "core/file.h"
#include "core/filename.h"

namespace {

using namespace korrin;

cli::Command crc32Command("crc32", "Print the CRC-32 (ISO-HDLC) of each file, in hexadecimal", [](CLI::App& sub) {
    auto files = std::make_shared<std::vector<std::string>>();
    sub.add_option("FILE", *files, "Files to checksum")->required();
    return [files] {
        int rc = cli::exitOk;
        std::vector<unsigned char> block(1 << 16);
        for (const auto& name : *files) {
            try {
                file f(filename(name.c_str()), file::readOnly);
                std::uint32_t crc = 0;
                for (long got; (got = f.blockread(block.data(), static_cast<long>(block.size()))) > 0;)
                    crc = crc32Update(crc, block.data(), static_cast<std::size_t>(got));
                std::printf("%08x  %s\n", crc, name.c_str());
            } catch (const file::fileerror& e) {
                rc = cli::fail(name + ": " + e.message.c_str());
            }
        }
        return rc;
    };
});

cli::Command pathsCommand("paths", "Show how korrin splits a colon-separated search path", [](CLI::App& sub) {
    auto text = std::make_shared<std::string>();
    sub.add_option("PATH", *text, "The search path, e.g. \"/a:/b\" or a quoted \"x:y\" element")->required();
    sub.footer("One element per line. A colon inside double quotes belongs to the element; \\\" stands for a quote.");
    return [text] {
        list<string> parts(true);
        SplitColonSeparatedPath(string(std::string_view(*text)), parts);
        for (const string& p : parts)
            std::cout << p << "\n";
        return cli::exitOk;
    };
});

} // namespace
