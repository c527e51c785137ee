// The truetype fuzz target starts from a few tiny fonts that the sfnt builder
// makes. This test keeps the files in fuzz/seeds/truetype/ equal to what the
// builder makes now; KORRIN_WRITE_SEEDS=1 rewrites them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "truetype/truetype.h"

using namespace korrin::test;

namespace {

std::map<std::string, std::string> seedFonts()
{
    return {
        {"minimal.ttf", minimalFont().build()},
        {"post1-long-loca.ttf", minimalFont()
                                    .table("head", headTable(1))
                                    .table("loca", locaTable({0, 0, 0, 12, 24}, true))
                                    .table("post", postTable(0x00010000))
                                    .build()},
        {"post2.ttf", minimalFont().table("post", postTable2({0, 258, 3, 259}, {"alpha", "beta"})).build()},
        {"post25-microsoft-names.ttf",
         minimalFont()
             .version(0x74727565)
             .table("name", nameTable({msName(0, "\xA9 nobody"), msName(4, "Caf\xE9"), msName(6, "Cafe")}))
             .table("post", postTable25({0, 1, 1, 1}))
             .build()},
        // Complete enough for the Type 42 writer, with each cmap format.
        {"type42-format4.ttf", type42Font().build()},
        {"type42-format2-shiftjis.ttf",
         type42Font().table("cmap", cmapTable({{3, 2, cmapFormat2({{0x41, 2}, {0x8140, 1}, {0x8142, 3}}, 1)}})).build()},
        {"type42-format0-format6.ttf",
         type42Font()
             .table("cmap", cmapTable({{1, 0, cmapFormat0({{0x41, 2}})}, {3, 1, cmapFormat6(0x41, {2, 3})}}))
             .build()},
    };
}

TEST(FuzzSeeds, AreTheBuilderFontsAndLoad)
{
    const std::string dir = KORRIN_SOURCE_DIR "/fuzz/seeds/truetype/";
    const bool rewrite = std::getenv("KORRIN_WRITE_SEEDS") != nullptr;
    for (const auto& [name, bytes] : seedFonts()) {
        if (rewrite)
            std::ofstream(dir + name, std::ios::binary) << bytes;
        EXPECT_EQ(readFile(dir + name), bytes) << name << " differs from the builder's; KORRIN_WRITE_SEEDS=1 rewrites it";
        korrin::TrueTypeFont font((dir + name).c_str());
        EXPECT_EQ(font.glyphCount(), 4) << name;
    }
}

} // namespace
