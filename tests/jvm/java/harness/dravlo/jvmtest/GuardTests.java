package dravlo.jvmtest;

/** The entry-point guards: which text reaches Java, and that nothing else does. */
final class GuardTests implements TestGroup {
    private static final String FIXED = "probe entry point failed";

    @Override
    public void run(Check check) {
        standardExceptionsArriveWithTheirText(check);
        otherExceptionsArriveWithTheFixedMessage(check);
        aPendingJavaErrorIsNotOverwritten(check);
        swallowingReportsNothing(check);
    }

    private static void standardExceptionsArriveWithTheirText(Check check) {
        for (String text : new String[] {"Could not get JogDial device", "", "Grüße ünd € über JNI"}) {
            check.throwsIOException("JNIException \"" + text + "\"", text, () -> Guards.throwJniException(text, FIXED));
            check.throwsIOException("IOException \"" + text + "\"", text, () -> Guards.throwIoException(text, FIXED));
            check.throwsIOException(
                "runtime_error \"" + text + "\"", text, () -> Guards.throwRuntimeError(text, FIXED));
        }
        int[] result = new int[1];
        check.returnsNormally("a body that succeeds", () -> result[0] = Guards.returnFromGuard(42, FIXED));
        check.equal("its result", 42, result[0]);
    }

    private static void otherExceptionsArriveWithTheFixedMessage(Check check) {
        check.throwsIOException("non-standard exception", FIXED, () -> Guards.throwNonStandard(FIXED));
        check.throwsIOException("another entry point's fixed message", "KeyPad driver initialization failed",
            () -> Guards.throwNonStandard("KeyPad driver initialization failed"));
    }

    private static void aPendingJavaErrorIsNotOverwritten(Check check) {
        // No JNI call may be made over a pending error; the error that stands is the one Java sees.
        String missing = "applet/utils/dravlo/NoSuchEvent";
        check.throwsExactly("error pending before the C++ exception", NoClassDefFoundError.class, missing,
            () -> Guards.throwOverPendingJavaError(missing, "lost", FIXED));
    }

    private static void swallowingReportsNothing(Check check) {
        check.returnsNormally("swallowed exceptions", () -> Guards.swallowBoth("dropped"));
    }
}
