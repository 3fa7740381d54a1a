package dravlo.jvmtest;

import java.io.IOException;
import java.util.Objects;

/**
 * The assertion helper: counts every check, prints each failure with a "FAILED:" marker and keeps
 * going, so one run reports every broken check of its group.
 */
final class Check {
    /** A piece of code under test that may throw anything. */
    interface Body {
        void run() throws Throwable;
    }

    private int passed;
    private int failed;

    int passed() { return passed; }

    int failed() { return failed; }

    void isTrue(String what, boolean condition) { record(what, condition, "condition was false"); }

    void equal(String what, Object expected, Object actual) {
        record(what, Objects.equals(expected, actual), "expected <" + expected + "> but was <" + actual + ">");
    }

    /** `body` completes without throwing anything. */
    void returnsNormally(String what, Body body) {
        Throwable thrown = capture(body);
        record(what, thrown == null, "threw " + thrown);
    }

    /**
     * `body` throws exactly a java.io.IOException (not a subclass) with `message`, no cause and
     * nothing suppressed: the native left that one exception pending and nothing else.
     */
    void throwsIOException(String what, String message, Body body) {
        Throwable thrown = capture(body);
        boolean bare = thrown != null && thrown.getCause() == null && suppressed(thrown) == 0;
        record(what, isExactly(thrown, IOException.class, message) && bare,
            expectation(IOException.class, message, thrown));
    }

    /** `body` throws exactly `type` (not a subclass) with `message`. */
    void throwsExactly(String what, Class<? extends Throwable> type, String message, Body body) {
        Throwable thrown = capture(body);
        record(what, isExactly(thrown, type, message), expectation(type, message, thrown));
    }

    /** Reports an exception that escaped a group. */
    void unexpected(String where, Throwable thrown) {
        record(where, false, "unexpected " + thrown);
        thrown.printStackTrace(System.out);
    }

    private static Throwable capture(Body body) {
        try {
            body.run();
            return null;
        } catch (Throwable thrown) {
            return thrown;
        }
    }

    /** The number of exceptions `thrown` suppressed; 0 where the JVM has none (Avian). */
    private static int suppressed(Throwable thrown) {
        try {
            return ((Throwable[]) Throwable.class.getMethod("getSuppressed").invoke(thrown)).length;
        } catch (NoSuchMethodException | IllegalAccessException | java.lang.reflect.InvocationTargetException absent) {
            return 0;
        }
    }

    private static boolean isExactly(Throwable thrown, Class<? extends Throwable> type, String message) {
        return thrown != null && thrown.getClass() == type && Objects.equals(message, thrown.getMessage());
    }

    private static String expectation(Class<? extends Throwable> type, String message, Throwable thrown) {
        String got = thrown == null ? "nothing was thrown" : "got " + thrown + " (cause " + thrown.getCause() + ")";
        return "expected " + type.getName() + "(\"" + message + "\") but " + got;
    }

    private void record(String what, boolean ok, String detail) {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            System.out.println("FAILED: " + what + ": " + detail);
        }
    }
}
