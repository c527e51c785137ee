import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import java.util.TreeMap;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** parseInfo called as the application calls it. */
class TrueTypeConvNativeTest {
    private static final String DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

    private final TrueTypeConvNative native_ = new TrueTypeConvNative();

    @TempDir Path dir;

    @Test
    void realFontFillsAllFiveElements() {
        String[] out = new String[5];
        assertEquals(0, native_.parseInfo(DEJAVU, out));
        assertEquals("DejaVuSans", out[0]);
        assertEquals("DejaVu Sans", out[1]);
        assertEquals("DejaVu Sans", out[2]);
        assertTrue(out[3].startsWith("Copyright (c) 2003 by Bitstream, Inc."), out[3]);
        assertEquals("TrueType", out[4]);
    }

    @Test
    void nonFontReturnsOneAndLeavesTheArrayAlone() throws IOException {
        Path text = Files.writeString(dir.resolve("notes.ttf"), "not a font, just some words");
        String[] out = {"a", "b", "c", "d", "e", "f"};
        assertEquals(1, native_.parseInfo(text.toString(), out));
        assertEquals(1, native_.parseInfo(dir.resolve("missing.ttf").toString(), out));
        assertEquals(1, native_.parseInfo(null, out));
        assertArrayEquals(new String[] {"a", "b", "c", "d", "e", "f"}, out);
    }

    @Test
    void fontWithoutPostScriptNameGetsOneFromItsPath() throws IOException {
        // Only a Macintosh full name, with the Mac Roman / Latin-1 byte 0xE9.
        Path font = Files.write(dir.resolve("My Font.ttf"),
                font(name(record(1, 0, 0, 4, "Caf\u00e9".getBytes(StandardCharsets.ISO_8859_1)))));
        String[] out = new String[5];
        assertEquals(0, native_.parseInfo(font.toString(), out));
        assertEquals(font.toString().replaceAll("[^A-Za-z0-9]", "_"), out[0]);
        assertTrue(out[0].endsWith("_My_Font_ttf"), out[0]);
        assertEquals("Caf\u00e9", out[1]);
        assertEquals("", out[2]);
        assertEquals("", out[3]);
        assertEquals("TrueType", out[4]);
    }

    @Test
    void unicodeNamesArriveAsTheirCharacters() throws IOException {
        byte[] notice = "\u00a9 K\u00f6rrin".getBytes(StandardCharsets.UTF_16BE);
        byte[] psName = "K\u00f6rrin-Bold".getBytes(StandardCharsets.UTF_16BE);
        Path font = Files.write(dir.resolve("k.ttf"),
                font(name(record(3, 1, 1033, 0, notice), record(3, 1, 1033, 6, psName))));
        String[] out = new String[5];
        assertEquals(0, native_.parseInfo(font.toString(), out));
        assertEquals("K\u00f6rrin-Bold", out[0]);
        assertEquals("K\u00f6rrin-Bold", out[1]);
        assertEquals("\u00a9 K\u00f6rrin", out[3]);
    }

    @Test
    void resultArrayMustHoldFiveElements() {
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(DEJAVU, new String[4]));
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(DEJAVU, null));
    }

    // --- a minimal TrueType file: head, loca, maxp with one empty glyph, and
    // the given name table. Checksums are left 0; nothing that loads the
    // font checks them.

    private static byte[] record(int platform, int encoding, int language, int nameId, byte[] bytes) {
        ByteArrayOutputStream r = new ByteArrayOutputStream();
        for (int v : new int[] {platform, encoding, language, nameId, bytes.length})
            put16(r, v);
        r.writeBytes(bytes);
        return r.toByteArray();
    }

    /** A name table from records made by record(), given in sorted order. */
    private static byte[] name(byte[]... records) {
        ByteArrayOutputStream table = new ByteArrayOutputStream();
        ByteArrayOutputStream strings = new ByteArrayOutputStream();
        put16(table, 0);
        put16(table, records.length);
        put16(table, 6 + 12 * records.length);
        for (byte[] r : records) {
            table.write(r, 0, 10);
            put16(table, strings.size());
            strings.write(r, 10, r.length - 10);
        }
        table.writeBytes(strings.toByteArray());
        return table.toByteArray();
    }

    private static byte[] font(byte[] name) {
        byte[] head = new byte[54];
        head[1] = 1; // version 1.0; indexToLocFormat (byte 50) 0
        byte[] maxp = {0, 0, 0x50, 0, 0, 1}; // version 0.5, one glyph
        byte[] loca = {0, 0, 0, 0};
        Map<String, byte[]> tables = new TreeMap<>(Map.of("head", head, "loca", loca, "maxp", maxp, "name", name));

        ByteArrayOutputStream out = new ByteArrayOutputStream();
        put16(out, 1);
        put16(out, 0);
        put16(out, tables.size());
        put16(out, 64);
        put16(out, 2);
        put16(out, 0);
        int offset = 12 + 16 * tables.size();
        for (Map.Entry<String, byte[]> t : tables.entrySet()) {
            out.writeBytes(t.getKey().getBytes(StandardCharsets.US_ASCII));
            put16(out, 0);
            put16(out, 0);
            put16(out, offset >> 16);
            put16(out, offset);
            put16(out, 0);
            put16(out, t.getValue().length);
            offset += (t.getValue().length + 3) & ~3;
        }
        for (byte[] data : tables.values()) {
            out.writeBytes(data);
            out.writeBytes(new byte[(4 - data.length % 4) % 4]);
        }
        return out.toByteArray();
    }

    private static void put16(ByteArrayOutputStream out, int v) {
        out.write(v >> 8);
        out.write(v);
    }
}
