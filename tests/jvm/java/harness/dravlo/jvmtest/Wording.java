package dravlo.jvmtest;

/** The library's own wording and class-name constants, so expected texts are built from the same pieces. */
final class Wording {
    private Wording() {}

    /** A constant of the library's message table by its name, e.g. "ClassPrefix"; null for an unknown name. */
    static native String text(String name);

    /** The class-name constant for "DialEvent", "KeyEvent" or "KeyCommand"; null otherwise. */
    static native String className(String which);

    /** What Java sees when a class lookup of `jniName` fails. */
    static String classNotFound(String jniName) { return text("ClassPrefix") + jniName + text("ClassNotFoundSuffix"); }

    /** What Java sees when `member` is missing from the class `jniName`. */
    static String memberNotFound(String member, String jniName) { return member + text("MemberNotFoundIn") + jniName; }

    /** What Java sees when `member` is missing from an object's class. */
    static String memberNotFoundOnObject(String member) {
        return member + text("MemberNotFoundIn") + text("UnnamedClass");
    }
}
