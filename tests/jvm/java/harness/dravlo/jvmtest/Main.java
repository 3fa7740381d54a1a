package dravlo.jvmtest;

/**
 * Runs the groups named on the command line ({@code Lookup} runs {@code LookupTests}) against the
 * test JNI library and exits non-zero when a check failed or no check ran at all.
 */
public final class Main {
    public static void main(String[] groups) {
        System.loadLibrary("dravlo_jvmtest");
        Check check = new Check();
        for (String group : groups) {
            try {
                TestGroup tests = (TestGroup) Class.forName("dravlo.jvmtest." + group + "Tests")
                                      .getDeclaredConstructor()
                                      .newInstance();
                tests.run(check);
            } catch (Throwable thrown) {
                check.unexpected("group " + group, thrown);
            }
        }
        System.out.println(
            "jvm tests " + String.join(",", groups) + ": " + check.passed() + " passed, " + check.failed() + " failed");
        if (check.failed() != 0 || check.passed() == 0) System.exit(1);
    }
}
