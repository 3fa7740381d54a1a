package dravlo.jvmtest;

import static dravlo.jvmtest.RealJvm.dial;
import static dravlo.jvmtest.RealJvm.key;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import java.util.Arrays;

/**
 * The Java handles on sessions/listeners.session (20 events of each kind per Start): both drivers
 * opened from main, events on threads named for their driver, a backlight command in the
 * simulator's log, close() from another thread and twice, a listener that closes its own driver,
 * and each owner thread ended after its close. (The handles' own logic is tested on the host JVM,
 * jvm.OwnerThread; here the real library on a real JVM.)
 */
final class RealApiTests implements TestGroup {
    private static final int EVENTS = 20;

    /** Records each event with the name its thread had during the call. */
    static class Named extends RealJvm.Recorder {
        @Override
        synchronized void add(String event) {
            super.add(event + "@" + Thread.currentThread().getName());
        }
    }

    /** Closes its jog dial from its third call. */
    static final class Closing extends Named {
        volatile JogDial dial;

        @Override
        synchronized void add(String event) {
            super.add(event);
            if (count() == 3) dial.close();
        }
    }

    @Override
    public void run(final Check check) throws Exception {
        final Named dials = new Named();
        final Named buttons = new Named();
        final JogDial dial = JogDial.open(dials, null);
        final KeyPad keys = KeyPad.open(buttons);
        check.equal("device counts", "1 1", dial.getDeviceCount() + " " + keys.getDeviceCount());
        Thread keyPadOwner = thread("dravlo-keypad");
        Thread jogDialOwner = thread("dravlo-jogdial");
        check.isTrue("an owner thread for each", keyPadOwner != null && jogDialOwner != null);
        keys.setBacklight(4, true);
        check.isTrue("every event of both drivers",
            RealJvm.await(20000, () -> dials.count() >= EVENTS && buttons.count() >= EVENTS));
        check.equal("jog dial events", repeat(dial(DialEvent.JOG, 0, DialEvent.CLOCKWISE) + "@dravlo-jogdial-events"),
            dials.events().toString());
        check.equal("keypad events", repeat(key(KeyEvent.BUTTON_DOWN, 1) + "@dravlo-keypad-events"),
            buttons.events().toString());

        Thread closer = RealJvm.start(check, "closer", () -> keys.close());
        closer.join();
        keys.close();
        check.isTrue("keypad closed from another thread, then again", !keys.isOpen() && !keyPadOwner.isAlive());
        // COM starts the simulator's log afresh whenever it loads it again: read it before that.
        check.equal("backlight", 1, RealJvm.log("SetBacklight(4,1)").size());
        dial.close();
        check.isTrue("jog dial closed from main", !dial.isOpen() && !jogDialOwner.isAlive());
        closedByListener(check);
    }

    /** A jog dial's listener closes it from its third call: nothing after, and a new one opens. */
    private static void closedByListener(Check check) throws Exception {
        final Closing closing = new Closing();
        final JogDial dial = JogDial.open(closing, null);
        closing.dial = dial;
        final Thread owner = thread("dravlo-jogdial");
        check.isTrue("the listener's third call", RealJvm.await(20000, () -> !dial.isOpen()));
        check.isTrue("the owner thread ends on its own", RealJvm.await(2000, () -> !owner.isAlive()));
        Thread.sleep(500);
        check.equal("no call after close() from the listener", 3, closing.count());
        JogDial again = JogDial.open();
        check.isTrue("a new jog dial opens after the listener's close", again.isOpen());
        again.close();
    }

    private static String repeat(String entry) {
        String[] entries = new String[EVENTS];
        Arrays.fill(entries, entry);
        return Arrays.asList(entries).toString();
    }

    /** A running thread named `name`, or null. (Avian lists ended threads for a while: ask isAlive.) */
    private static Thread thread(String name) {
        Thread[] threads = new Thread[Thread.activeCount() + 10];
        int count = Thread.enumerate(threads);
        for (int i = 0; i < count; ++i) {
            if (name.equals(threads[i].getName()) && threads[i].isAlive()) return threads[i];
        }
        return null;
    }
}
