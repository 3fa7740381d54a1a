package dravlo.jvmtest;

import static dravlo.jvmtest.RealJvm.dial;
import static dravlo.jvmtest.RealJvm.key;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import java.util.Arrays;

/**
 * The Java handles of the installed release on sessions/listeners.session (20 events of each kind
 * per Start): both drivers opened from main, events on threads named for their driver, a backlight
 * command in the simulator's log, close() from another thread and twice, a listener that closes its
 * own driver, listeners of the two that close each other's handle at once, and each owner thread
 * ended after its close. (The handles' own logic is tested on the host JVM, jvm.OwnerThread; here
 * the real library on a real JVM.)
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
        crossClose(check);
    }

    /**
     * A jog dial listener closes the keypad while a keypad listener closes the jog dial, both inside
     * their first call at once; each owner's teardown waits for the other's listener call. Every round
     * must end with both closed and both owners ended; a hang is the watchdog's.
     */
    private static void crossClose(Check check) throws Exception {
        final int rounds = 8;
        int both = 0;
        for (int round = 0; round < rounds; ++round) {
            final Meeting inside = new Meeting();
            final AutoCloseable[] other = new AutoCloseable[2];
            final JogDial dial = JogDial.open(event -> inside.thenClose(other[0]), null);
            final KeyPad keys = KeyPad.open(event -> inside.thenClose(other[1]));
            other[0] = keys;
            other[1] = dial;
            boolean closed = RealJvm.await(20000, () -> !dial.isOpen() && !keys.isOpen());
            dial.close();
            keys.close();
            if (closed && inside.met() && thread("dravlo-jogdial") == null && thread("dravlo-keypad") == null) ++both;
        }
        check.equal("rounds in which each listener closed the other's handle and both owners ended", rounds, both);
    }

    /** Where the first listener call of each handle waits for the other's before it closes. */
    static final class Meeting {
        private int arrived;

        synchronized void thenClose(AutoCloseable other) {
            ++arrived;
            notifyAll();
            long end = System.currentTimeMillis() + 10000;
            try {
                for (long left = 10000; arrived < 2 && left > 0; left = end - System.currentTimeMillis()) wait(left);
                if (arrived >= 2) other.close();
            } catch (Exception unexpected) {
                throw new IllegalStateException(unexpected);
            }
        }

        synchronized boolean met() { return arrived >= 2; }
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
