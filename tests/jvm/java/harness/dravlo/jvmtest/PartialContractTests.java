package dravlo.jvmtest;

/**
 * Runs with a contract whose DialEvent lacks fShuttleState and without KeyEvent on the class path:
 * the failures an initialisation meets with an outdated Java side, through the library's own
 * class-name constants.
 */
final class PartialContractTests implements TestGroup {
    @Override
    public void run(Check check) {
        String dial = Wording.className("DialEvent");
        String key = Wording.className("KeyEvent");
        check.returnsNormally("the partial DialEvent is loaded", () -> Lookups.fieldId(dial, "fDeviceID", "I"));
        check.throwsIOException("DialEvent without fShuttleState", Wording.memberNotFound("fShuttleState", dial),
            () -> Lookups.fieldId(dial, "fShuttleState", "I"));
        check.throwsIOException("missing KeyEvent class", Wording.classNotFound(key), () -> Lookups.findClass(key));
        check.throwsIOException("KeyEvent field with the class missing", Wording.classNotFound(key),
            () -> Lookups.fieldId(key, "fDeviceID", "I"));
        check.throwsIOException("KeyEvent constructor with the class missing", Wording.classNotFound(key),
            () -> Lookups.methodId(key, "<init>", "()V"));
        // The literal texts once, so the constants themselves are held to the contract.
        check.equal("the field message", "fShuttleState not found in applet/utils/dravlo/DialEvent",
            Wording.memberNotFound("fShuttleState", dial));
        check.equal("the class message", "Class applet/utils/dravlo/KeyEvent not found", Wording.classNotFound(key));
    }
}
