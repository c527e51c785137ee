import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.Test;

/** parseInfo called as the application calls it. */
class TrueTypeConvNativeTest {
    private static final String SEEDS = System.getenv("KORRIN_SOURCE_DIR") + "/fuzz/seeds/";
    /** Microsoft names holding U+00E9 and U+00A9, which reach Java as bytes above 127. */
    private static final String FONT = SEEDS + "truetype/post25-microsoft-names.ttf";

    private final TrueTypeConvNative native_ = new TrueTypeConvNative();

    @Test
    void fillsAllFiveElementsWithBytesAbove127AsTheirCharacters() {
        String[] out = new String[6];
        assertEquals(0, native_.parseInfo(FONT, out));
        assertArrayEquals(new String[] {"Cafe", "Caf\u00e9", "", "\u00a9 nobody", "TrueType", null}, out);
    }

    @Test
    void nonFontReturnsOneAndLeavesTheArrayAlone() {
        String[] out = {"a", "b", "c", "d", "e"};
        assertEquals(1, native_.parseInfo(SEEDS + "xlat_tables/f3-le", out));
        assertEquals(1, native_.parseInfo(FONT + ".missing", out));
        assertEquals(1, native_.parseInfo(null, out));
        assertArrayEquals(new String[] {"a", "b", "c", "d", "e"}, out);
    }

    @Test
    void resultArrayMustHoldFiveElements() {
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(FONT, new String[4]));
        assertThrows(IllegalArgumentException.class, () -> native_.parseInfo(FONT, null));
    }
}
