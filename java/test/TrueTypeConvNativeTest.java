import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** parseInfo called as the application calls it. */
class TrueTypeConvNativeTest {
    /** Microsoft names holding U+00E9 and U+00A9, which reach Java as bytes above 127. */
    private static final String FONT =
            System.getenv("KORRIN_SOURCE_DIR") + "/fuzz/seeds/truetype/post25-microsoft-names.ttf";

    private final TrueTypeConvNative native_ = new TrueTypeConvNative();

    @TempDir Path dir;

    @Test
    void fillsAllFiveElementsWithBytesAbove127AsTheirCharacters() {
        String[] out = new String[6];
        assertEquals(0, native_.parseInfo(FONT, out));
        assertArrayEquals(new String[] {"Cafe", "Caf\u00e9", "", "\u00a9 nobody", "TrueType", null}, out);
    }

    @Test
    void nonFontReturnsOneAndLeavesTheArrayAlone() throws IOException {
        Path text = Files.writeString(dir.resolve("notes.ttf"), "not a font, just some words");
        String[] out = {"a", "b", "c", "d", "e"};
        assertEquals(1, native_.parseInfo(text.toString(), out));
        assertEquals(1, native_.parseInfo(dir.resolve("missing.ttf").toString(), out));
        assertEquals(1, native_.parseInfo(null, out));
        assertArrayEquals(new String[] {"a", "b", "c", "d", "e"}, out);
    }

    @Test
    void resultArrayMustHoldFiveElements() {
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(FONT, new String[4]));
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(FONT, null));
    }
}
