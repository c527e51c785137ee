// The parts of a Type 42 conversion, in process, on the fonts that
// bench/type42.py converts: the cmap lookup, the glyph names, the checks,
// the whole conversion into a sink that keeps nothing, and the hexadecimal
// encoding alone.
//
//   build/bench/korrin_bench_type42 [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "convert/hformat.h"
#include "convert/tt2ps.h"
#include "truetype/tt_cmap.h"
#include "xlat/xman.h"

namespace {

using namespace korrin;

const char* const fonts[] = {
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
};

XlatManager& tables()
{
    static XlatManager manager(KORRIN_BUILD_SHARE_DIR "/tables");
    return manager;
}

// Output that the kernel discards, so that only our work and the calls
// that hand the text over are timed.
FILE* nullSink()
{
    static FILE* sink = std::fopen("/dev/null", "w");
    return sink;
}

void GlyphIndexArrayOf(benchmark::State& state)
{
    TrueTypeFont font(fonts[state.range(0)]);
    for (auto _ : state)
        benchmark::DoNotOptimize(getGlyphIndexArray(font.GetTableData(TrueTypeTag("cmap")), &tables()));
    state.SetLabel(fonts[state.range(0)]);
}
BENCHMARK(GlyphIndexArrayOf)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void GlyphNames(benchmark::State& state)
{
    TrueTypeFont font(fonts[state.range(0)]);
    for (auto _ : state) {
        GlyphTable glyphs(font.GetTableData(TrueTypeTag("post")));
        benchmark::DoNotOptimize(GetGlyphByNumber(glyphs, glyphs.count() - 1));
    }
    state.SetLabel(fonts[state.range(0)]);
}
BENCHMARK(GlyphNames)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void ChecksBeforeOutput(benchmark::State& state)
{
    TrueTypeFont font(fonts[state.range(0)]);
    for (auto _ : state)
        Type42Conversion conversion(font, 1, &tables(), false, nullptr);
    state.SetLabel(fonts[state.range(0)]);
}
BENCHMARK(ChecksBeforeOutput)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void WholeConversion(benchmark::State& state)
{
    TrueTypeFont font(fonts[state.range(0)]);
    for (auto _ : state)
        TrueType2Type42(font, 1, &tables(), nullSink(), false, nullptr);
    state.SetBytesProcessed(state.iterations() * font.fileSize());
    state.SetLabel(fonts[state.range(0)]);
}
BENCHMARK(WholeConversion)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The floor in process: the font's bytes as hexadecimal lines, a table
// lookup per byte, written in 64 KiB blocks, as bench/hexdump.c does.
void HexDumpFloor(benchmark::State& state)
{
    TrueTypeFont font(fonts[state.range(0)]);
    const BigEndianSpan image = font.image();
    char pairs[512];
    for (int i = 0; i < 256; ++i) {
        pairs[2 * i] = "0123456789ABCDEF"[i >> 4];
        pairs[2 * i + 1] = "0123456789ABCDEF"[i & 15];
    }
    std::vector<char> block(1 << 16);
    const int out = fileno(nullSink());
    for (auto _ : state) {
        std::size_t used = 0;
        for (std::size_t i = 0; i < image.size(); i += 32) {
            const std::size_t n = std::min<std::size_t>(32, image.size() - i);
            if (used + 65 > block.size()) {
                benchmark::DoNotOptimize(::write(out, block.data(), used));
                used = 0;
            }
            for (std::size_t k = 0; k < n; ++k)
                std::memcpy(block.data() + used + 2 * k, pairs + 2 * image.data()[i + k], 2);
            used += 2 * n;
            block[used++] = '\n';
        }
        benchmark::DoNotOptimize(::write(out, block.data(), used));
    }
    state.SetBytesProcessed(state.iterations() * image.size());
    state.SetLabel(fonts[state.range(0)]);
}
BENCHMARK(HexDumpFloor)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void HexEncoding(benchmark::State& state)
{
    std::vector<unsigned char> bytes(1 << 20);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131);
    for (auto _ : state) {
        HexFormatter2 hex(nullSink());
        for (std::size_t at = 0; at < bytes.size(); at += 4096)
            hex.blockwrite(bytes.data() + at, 4096);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(HexEncoding)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
