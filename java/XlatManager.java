/**
 * The translation tables of the native library: where it looks for them, and
 * which of them can serve as the byte encodings of converted fonts.
 */
public class XlatManager {
    static {
        System.loadLibrary("korrin");
    }

    /** Sets the colon-separated table directories and scans them. */
    public native void setpath(String path);

    /**
     * The one-byte tables to Unicode, as "[\n" then one line
     * "[(from)(1)(s1)(s2)(s3)(s4)]" per table then "]\n", where s1 to s4 are
     * the table's default strings with "(", ")" and "\" escaped by "\".
     */
    public native String getXStr();

    /** The directory the application offers when it has no path of its own. */
    public native String GetPlatformDefaultPath();
}
