import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The translation-table entries called as the application calls them, in one sequence. */
class XlatManagerTest {
    private final XlatManager xman = new XlatManager();

    @TempDir Path first;
    @TempDir Path second;

    /** A table file, fields in the given byte order, with default strings 1, 2, ... as Latin-1 bytes. */
    private static byte[] table(ByteOrder order, int from, int to, int format, String... strings) {
        int text = 0;
        for (String s : strings) text += s.length();
        int padded = (text + 3) / 4 * 4;
        int tableSize = format == 1 ? 4 + 2 * 65536 : format == 3 ? 8 + 4 : 4 + 2 * 256;
        ByteBuffer b = ByteBuffer.allocate(18 + 8 * strings.length + padded + tableSize).order(order);
        b.put("xlt!".getBytes(ISO_8859_1)).putShort((short) 0xAADD).putShort((short) from).putShort((short) to);
        b.putShort((short) 0).putShort((short) (8 + 8 * strings.length + padded));
        b.putShort((short) strings.length).putShort((short) (8 + 8 * strings.length));
        int offset = 0;
        for (int i = 0; i < strings.length; i++) {
            b.putShort((short) 0xFFFF).putShort((short) (i + 1));
            b.putShort((short) strings[i].length()).putShort((short) offset);
            offset += strings[i].length();
        }
        for (String s : strings) b.put(s.getBytes(ISO_8859_1));
        b.position(b.position() + padded - text);
        b.putShort((short) format).putShort((short) 0);
        if (format == 3) b.putInt(1).putShort((short) 0x41).putShort((short) 0x41);
        return b.array();
    }

    @Test
    void listsOnlyOneByteTablesToUnicodeWithTheirStringsEscaped() throws IOException {
        assertEquals("[\n]\n", xman.getXStr(), "before any path");
        assertEquals("/usr/dt/lib/vsk/i386/tables", xman.GetPlatformDefaultPath());

        Files.write(first.resolve("a.xlt"), table(ByteOrder.LITTLE_ENDIAN, 100, 1, 4, "A", "a", "Latin"));
        Files.write(second.resolve("b.xlt"), table(ByteOrder.BIG_ENDIAN, 120, 1, 4, "B", "b", "Greek", "test"));
        // Not font encodings: to another encoding than Unicode, and formats 1 and 3.
        Files.write(second.resolve("to-sjis.xlt"), table(ByteOrder.BIG_ENDIAN, 121, 2, 4, "x"));
        Files.write(second.resolve("direct.xlt"), table(ByteOrder.BIG_ENDIAN, 122, 1, 1, "y"));
        Files.write(second.resolve("sparse.xlt"), table(ByteOrder.LITTLE_ENDIAN, 2, 1, 3, "z"));
        xman.setpath(first.toString());
        assertEquals("[\n[(100)(1)(A)(a)(Latin)()]\n]\n", xman.getXStr());
        xman.setpath(second.toString());
        assertEquals("[\n[(120)(1)(B)(b)(Greek)(test)]\n]\n", xman.getXStr(), "a second path replaces the first");
        xman.setpath(second + ":" + first);
        String both = xman.getXStr();
        assertTrue(both.contains("[(100)") && both.contains("[(120)"), both);
        xman.setpath(null);
        assertEquals("[\n]\n", xman.getXStr());

        // Bytes that are not UTF-8 (E9 at the end, an overlong E0 80 AF) arrive as Latin-1; UTF-8 beyond
        // the BMP as its surrogates.
        String utf8 = new String("Caf\u00e9 \u2192 \ud83d\ude00".getBytes(UTF_8), ISO_8859_1);
        Files.write(first.resolve("a.xlt"),
                table(ByteOrder.LITTLE_ENDIAN, 101, 1, 0, "Roman (Mac)", "a\\b", "Caf\u00e0\u0080\u00af\u00e9", utf8));
        xman.setpath(first.toString());
        assertEquals("[\n[(101)(1)(Roman \\(Mac\\))(a\\\\b)(Caf\u00e0\u0080\u00af\u00e9)"
                + "(Caf\u00e9 \u2192 \ud83d\ude00)]\n]\n", xman.getXStr());
    }
}
