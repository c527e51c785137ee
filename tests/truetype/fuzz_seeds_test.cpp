// The truetype fuzz target starts from a few tiny fonts that the sfnt builder
// makes. This test keeps the files in fuzz/seeds/truetype/ equal to what the
// builder makes now; KORRIN_WRITE_SEEDS=1 rewrites them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "truetype/truetype.h"

using namespace korrin::test;

namespace {

TEST(FuzzSeeds, AreTheBuilderFontsAndLoad)
{
    const std::pair<const char*, SfntBuilder> seeds[] = {
        {"minimal.ttf", minimalFont()},
        {"post1-long-loca.ttf", minimalFont()
                                    .table("head", headTable(1))
                                    .table("loca", locaTable({0, 0, 0, 12, 24}, true))
                                    .table("post", postTable(0x00010000))},
        {"post2.ttf", minimalFont().table("post", postTable2({0, 258, 3, 259}, {"alpha", "beta"}))},
        {"post25-microsoft-names.ttf",
         minimalFont()
             .version(0x74727565)
             .table("name", nameTable({msName(0, "\xA9 nobody"), msName(4, "Caf\xE9"), msName(6, "Cafe")}))
             .table("post", postTable25({0, 1, 1, 1}))},
        // Complete enough for the Type 42 writer, with each cmap format.
        {"type42-format4.ttf", type42Font()},
        {"type42-format2-shiftjis.ttf",
         type42Font().table("cmap", cmapTable({{3, 2, cmapFormat2({{0x41, 2}, {0x8140, 1}, {0x8142, 3}}, 1)}}))},
        {"type42-format0-format6.ttf",
         type42Font().table("cmap", cmapTable({{1, 0, cmapFormat0({{0x41, 2}})}, {3, 1, cmapFormat6(0x41, {2, 3})}}))},
    };
    const std::string dir = KORRIN_SOURCE_DIR "/fuzz/seeds/truetype/";
    for (const auto& [name, font] : seeds) {
        const std::string bytes = font.build();
        if (std::getenv("KORRIN_WRITE_SEEDS"))
            std::ofstream(dir + name, std::ios::binary) << bytes;
        EXPECT_TRUE(readFile(dir + name) == bytes) << name << " differs from the builder's; KORRIN_WRITE_SEEDS=1 rewrites it";
        EXPECT_EQ(korrin::TrueTypeFont((dir + name).c_str()).glyphCount(), 4) << name;
    }
}

} // namespace
