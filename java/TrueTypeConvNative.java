/**
 * Reads the names of TrueType fonts for the font dialogs, through korrin's
 * native library.
 */
public class TrueTypeConvNative {
    static {
        System.loadLibrary("korrin");
    }

    /**
     * Reads the names of the TrueType font at path into out: the PostScript
     * name, the full name, the unique font ID, the notice and "TrueType", in
     * elements 0 to 4. A font without a PostScript name gets one made from
     * its path; a missing unique ID or notice is the empty string.
     *
     * @param path the font file
     * @param out at least five elements; left as it was when the font does not load
     * @return 0 on success, 1 when the file is not a TrueType font that loads
     * @throws IllegalArgumentException when out has fewer than five elements
     */
    public native int parseInfo(String path, String[] out);
}
