import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static java.nio.charset.StandardCharsets.US_ASCII;
import static java.nio.charset.StandardCharsets.UTF_16BE;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
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
    void bytesAbove127ArriveAsTheirCharactersAndAMissingPostScriptNameComesFromThePath() throws IOException {
        // A Macintosh full name with the Mac Roman / Latin-1 byte 0xE9, and a
        // Microsoft (UTF-16) notice.
        Path font = Files.write(dir.resolve("My Font.ttf"), font(
                new Name(1, 0, 0, 4, "Caf\u00e9".getBytes(ISO_8859_1)),
                new Name(3, 1, 1033, 0, "\u00a9 K\u00f6rrin".getBytes(UTF_16BE))));
        String[] out = new String[5];
        assertEquals(0, native_.parseInfo(font.toString(), out));
        assertArrayEquals(new String[] {font.toString().replaceAll("[^A-Za-z0-9]", "_"), "Caf\u00e9", "",
                "\u00a9 K\u00f6rrin", "TrueType"}, out);
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
    void resultArrayMustHoldFiveElements() {
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(DEJAVU, new String[4]));
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(DEJAVU, null));
    }

    /** A name record: platform, encoding, language and name IDs, and the string. */
    private record Name(int platform, int encoding, int language, int id, byte[] bytes) {}

    /**
     * A minimal TrueType file: head, loca, maxp with one empty glyph, and a
     * name table of these records, given in sorted order. Checksums are 0;
     * nothing that loads the font checks them.
     */
    private static byte[] font(Name... names) {
        int text = 0;
        for (Name n : names) text += n.bytes().length;
        ByteBuffer name = ByteBuffer.allocate(6 + 12 * names.length + text);
        name.putShort((short) 0).putShort((short) names.length).putShort((short) (6 + 12 * names.length));
        int offset = 0;
        for (Name n : names) {
            for (int v : new int[] {n.platform(), n.encoding(), n.language(), n.id(), n.bytes().length, offset})
                name.putShort((short) v);
            offset += n.bytes().length;
        }
        for (Name n : names) name.put(n.bytes());
        byte[] head = new byte[54];
        head[1] = 1; // version 1.0; indexToLocFormat (byte 50) 0
        byte[] maxp = {0, 0, 0x50, 0, 0, 1}; // version 0.5, one glyph
        byte[][] tables = {head, new byte[4], maxp, name.array()};
        String tags = "headlocamaxpname";

        int size = 12 + 16 * tables.length;
        for (byte[] t : tables) size += (t.length + 3) & ~3;
        ByteBuffer out = ByteBuffer.allocate(size);
        out.putInt(0x00010000).putShort((short) tables.length).putShort((short) 64).putShort((short) 2).putShort((short) 0);
        offset = 12 + 16 * tables.length;
        for (int i = 0; i < tables.length; i++) {
            out.put(tags.substring(4 * i, 4 * i + 4).getBytes(US_ASCII)).putInt(0).putInt(offset).putInt(tables[i].length);
            offset += (tables[i].length + 3) & ~3;
        }
        for (byte[] t : tables) out.put(t).position((out.position() + 3) & ~3);
        return out.array();
    }
}
