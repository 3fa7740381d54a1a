package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.KeyCommand;
import applet.utils.dravlo.KeyEvent;

/** JniLookup against the real Java contract: what is found, and the exact failure Java sees. */
final class LookupTests implements TestGroup {
    private static final String KEY_SIG = "(Lapplet/utils/dravlo/KeyEvent;)V";
    private static final String DIAL_SIG = "(Lapplet/utils/dravlo/DialEvent;)V";

    /** A key listener whose callback is inherited. */
    static class BaseKeyListener {
        public void onKeyEvent(KeyEvent event) {}
    }

    static final class DerivedKeyListener extends BaseKeyListener {}

    /** Has a method of the right name but the wrong parameter type. */
    static final class LooseKeyListener {
        public void onKeyEvent(Object event) {}
    }

    /** A dial listener only. */
    static final class DialOnlyListener {
        public void onDialEvent(DialEvent event) {}
    }

    /** Inherits every event field. */
    static final class DerivedDialEvent extends DialEvent {}

    @Override
    public void run(Check check) {
        classNamesMatchTheContract(check);
        contractMembersAreFound(check);
        missingClassIsReportedByName(check);
        missingMemberIsReportedWithItsClass(check);
        listenerCallbacksAreFoundOnTheObjectsClass(check);
    }

    private static void classNamesMatchTheContract(Check check) {
        check.equal("DialEvent class name", jniName(DialEvent.class), Wording.className("DialEvent"));
        check.equal("KeyEvent class name", jniName(KeyEvent.class), Wording.className("KeyEvent"));
        check.equal("KeyCommand class name", jniName(KeyCommand.class), Wording.className("KeyCommand"));
    }

    private static void contractMembersAreFound(Check check) {
        String dial = Wording.className("DialEvent");
        String key = Wording.className("KeyEvent");
        String command = Wording.className("KeyCommand");
        for (String name : new String[] {dial, key, command})
            found(check, "class " + name, () -> Lookups.findClass(name));
        for (String field : new String[] {"fDeviceID", "fEventType", "fShuttleState", "fJogDirection"}) {
            found(check, "DialEvent." + field, () -> Lookups.fieldId(dial, field, "I"));
        }
        for (String field : new String[] {"fDeviceID", "fEventType", "fButtonNumber"}) {
            found(check, "KeyEvent." + field, () -> Lookups.fieldId(key, field, "I"));
        }
        for (String field : new String[] {"fDeviceID", "fType", "fButtonNumber"}) {
            found(check, "KeyCommand." + field, () -> Lookups.fieldId(command, field, "I"));
        }
        found(check, "DialEvent()", () -> Lookups.methodId(dial, "<init>", "()V"));
        found(check, "KeyEvent()", () -> Lookups.methodId(key, "<init>", "()V"));
        String derived = jniName(DerivedDialEvent.class);
        found(check, "inherited field", () -> Lookups.fieldId(derived, "fShuttleState", "I"));
    }

    private static void missingClassIsReportedByName(Check check) {
        String missing = "applet/utils/dravlo/NoSuchEvent";
        check.throwsIOException(
            "findClass of a missing class", Wording.classNotFound(missing), () -> Lookups.findClass(missing));
        check.throwsIOException("fieldId in a missing class", Wording.classNotFound(missing),
            () -> Lookups.fieldId(missing, "fDeviceID", "I"));
        check.throwsIOException("methodId in a missing class", Wording.classNotFound(missing),
            () -> Lookups.methodId(missing, "<init>", "()V"));
        // Dotted names are not JNI names: the lookup must fail, not find the class.
        String dotted = DialEvent.class.getName();
        check.throwsIOException(
            "findClass of a dotted name", Wording.classNotFound(dotted), () -> Lookups.findClass(dotted));
    }

    private static void missingMemberIsReportedWithItsClass(Check check) {
        String dial = Wording.className("DialEvent");
        String key = Wording.className("KeyEvent");
        check.throwsIOException("missing field", Wording.memberNotFound("fNoSuchField", dial),
            () -> Lookups.fieldId(dial, "fNoSuchField", "I"));
        check.throwsIOException("field of another type", Wording.memberNotFound("fDeviceID", dial),
            () -> Lookups.fieldId(dial, "fDeviceID", "J"));
        check.throwsIOException("field of another class", Wording.memberNotFound("fShuttleState", key),
            () -> Lookups.fieldId(key, "fShuttleState", "I"));
        check.throwsIOException("constructor with arguments", Wording.memberNotFound("<init>", key),
            () -> Lookups.methodId(key, "<init>", "(I)V"));
        check.throwsIOException("missing method", Wording.memberNotFound("onKeyEvent", key),
            () -> Lookups.methodId(key, "onKeyEvent", KEY_SIG));
    }

    private static void listenerCallbacksAreFoundOnTheObjectsClass(Check check) {
        found(check, "inherited onKeyEvent", () -> Lookups.methodIdOn(new DerivedKeyListener(), "onKeyEvent", KEY_SIG));
        found(check, "onDialEvent", () -> Lookups.methodIdOn(new DialOnlyListener(), "onDialEvent", DIAL_SIG));
        check.throwsIOException("listener without onKeyEvent", Wording.memberNotFoundOnObject("onKeyEvent"),
            () -> Lookups.methodIdOn(new DialOnlyListener(), "onKeyEvent", KEY_SIG));
        check.throwsIOException("onKeyEvent of another signature", Wording.memberNotFoundOnObject("onKeyEvent"),
            () -> Lookups.methodIdOn(new LooseKeyListener(), "onKeyEvent", KEY_SIG));
        check.throwsIOException("listener without onDialEvent", Wording.memberNotFoundOnObject("onDialEvent"),
            () -> Lookups.methodIdOn(new Object(), "onDialEvent", DIAL_SIG));
    }

    private interface Lookup {
        boolean run() throws Exception;
    }

    private static void found(Check check, String what, Lookup lookup) {
        boolean[] result = new boolean[1];
        check.returnsNormally(what + " is looked up", () -> result[0] = lookup.run());
        check.isTrue(what + " yields an identifier", result[0]);
    }

    static String jniName(Class<?> type) { return type.getName().replace('.', '/'); }
}
