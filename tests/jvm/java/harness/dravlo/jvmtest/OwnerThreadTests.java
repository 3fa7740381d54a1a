package dravlo.jvmtest;

import static dravlo.jvmtest.StandInDrivers.JOG_DIAL;
import static dravlo.jvmtest.StandInDrivers.KEY_PAD;

import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPad;
import java.io.IOException;
import java.lang.ref.WeakReference;
import java.lang.reflect.Field;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * The Java handles (JogDial, KeyPad) over the stand-in drivers: every native call of a driver on
 * its owner thread, both drivers open from one thread, closes from other threads and from a
 * listener without a deadlock (also two listeners closing each other's handle, and a close while
 * the handle is still opening), COM balanced on every thread, failures with the library's text and
 * their COM reason as the cause, and listener exceptions routed to the chosen handler.
 */
final class OwnerThreadTests implements TestGroup {
    private static final String HINT = " (already initialised on this thread, or a previous failure not cleaned up)";

    @Override
    public void run(Check check) throws Exception {
        Thread watchdog = Watchdog.start("OwnerThread", 60);
        bothFromOneThread(check);
        closeFromListener(check);
        crossClose(check);
        crossOpenWhileAnotherOpens(check);
        closeWhileOpening(check);
        failures(check);
        check.equal("COM balanced on every thread", 0, StandInDrivers.comOwed());
        watchdog.interrupt();
    }

    private static void bothFromOneThread(Check check) throws Exception {
        List<String> heard = new ArrayList<>();
        JogDial dial = JogDial.open(event -> record(heard, "dial " + event.fJogDirection), null);
        KeyPad keys = KeyPad.open();
        check.equal("devices", Arrays.asList(1, 1), Arrays.asList(dial.getDeviceCount(), keys.getDeviceCount()));
        keys.addKeyListener(event -> record(heard, "key " + event.fButtonNumber));
        keys.setBacklight(1, true);
        StandInDrivers.fire(JOG_DIAL, 2);
        StandInDrivers.fire(KEY_PAD, 2);
        check.equal("events on threads named for their driver",
            "[dial 0@dravlo-jogdial-events, dial 1@dravlo-jogdial-events, key 0@dravlo-keypad-events, "
                + "key 1@dravlo-keypad-events]",
            heard.toString());

        // What listeners throw: to the chosen handler, else to the thread's own; the others still hear.
        List<String> handled = new ArrayList<>();
        keys.addKeyListener(event -> { throw new IllegalStateException("listener " + event.fButtonNumber); });
        keys.addKeyListener(event -> record(heard, "after " + event.fButtonNumber));
        keys.setListenerExceptionHandler((thread, thrown) -> record(handled, "handler " + thrown.getMessage()));
        StandInDrivers.fire(KEY_PAD, 1);
        keys.setListenerExceptionHandler(null);
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler(
            (thread, thrown) -> record(handled, "uncaught " + thrown.getMessage()));
        StandInDrivers.fire(KEY_PAD, 1);
        Thread.setDefaultUncaughtExceptionHandler(previous);
        check.equal("listener exceptions",
            "[handler listener 0@dravlo-keypad-events, uncaught listener 0@dravlo-keypad-events]", handled.toString());
        check.equal("the listeners around the throwing one heard both events",
            "[key 0@dravlo-keypad-events, after 0@dravlo-keypad-events, key 0@dravlo-keypad-events, "
                + "after 0@dravlo-keypad-events]",
            heard.subList(4, heard.size()).toString());

        Thread closer = new Thread(keys::close, "closer");
        closer.start();
        closer.join();
        keys.close();
        dial.close();
        check.isTrue("closed, also from another thread and twice", !keys.isOpen() && !dial.isOpen());
        check.isTrue("owner threads ended", !alive("dravlo-keypad") && !alive("dravlo-jogdial"));
        check.equal("jog dial natives, all on its owner",
            calls("registerDialListenerImpl registerKeyListenerImpl initializeImpl getNumberOfDevicesImpl "
                    + "uninitializeImpl",
                "dravlo-jogdial"),
            StandInDrivers.takeCalls(JOG_DIAL));
        check.equal("keypad natives, all on its owner",
            calls("registerKeyListenerImpl initializeImpl getNumberOfDevicesImpl executeCommandImpl uninitializeImpl",
                "dravlo-keypad"),
            StandInDrivers.takeCalls(KEY_PAD));
        Object[][] closed = {
            {"a command", (Check.Body) () -> keys.setBacklight(1, false)},
            {"a key listener", (Check.Body) () -> keys.addKeyListener(event -> {})},
            {"a dial listener", (Check.Body) () -> dial.addDialListener(event -> {})},
            {"an exception handler", (Check.Body) () -> keys.setListenerExceptionHandler(null)},
        };
        for (Object[] row : closed) {
            check.throwsExactly(row[0] + " after close", IllegalStateException.class,
                (row[0].equals("a dial listener") ? "JogDial" : "KeyPad") + " is closed", (Check.Body) row[1]);
        }
        check.returnsNormally("removing a listener after close", () -> keys.removeKeyListener(event -> {}));
    }

    /** A listener closes its keypad while the device thread is still firing: no deadlock, nothing after. */
    private static void closeFromListener(Check check) throws Exception {
        KeyPad keys = KeyPad.open();
        StandInDrivers.takeCalls(KEY_PAD);
        int[] calls = {0};
        Throwable[] reopened = {null};
        keys.addKeyListener(event -> {
            if (++calls[0] != 2) return;
            keys.close();
            keys.close();
            try {
                KeyPad.open();
            } catch (Throwable refused) {
                reopened[0] = refused;
            }
        });
        StandInDrivers.fire(KEY_PAD, 5);
        check.equal("no listener call after close() from the second", 2, calls[0]);
        check.isTrue("closed", !keys.isOpen());
        check.isTrue("open() from a listener refused", reopened[0] instanceof IllegalStateException);
        KeyPad[] again = {null};
        WeakReference<KeyListener> listener = openWith(again); // waits for the first owner's last uninitialise
        check.equal("teardown handed to the owner",
            "uninitializeImpl@dravlo-keypad\n"
                + calls("registerKeyListenerImpl initializeImpl getNumberOfDevicesImpl", "dravlo-keypad"),
            StandInDrivers.takeCalls(KEY_PAD));
        check.throwsExactly("a second keypad while one is open", IllegalStateException.class,
            "a KeyPad is already open; close it first", KeyPad::open);
        again[0].close();
        check.isTrue("a closed handle, still the kind's last, keeps no listener", Reachability.cleared(listener));
        StandInDrivers.takeCalls(KEY_PAD);
    }

    /**
     * A jog dial listener closes the keypad while a keypad listener closes the jog dial, both inside
     * their calls at once: each owner's teardown waits for the other listener, so neither close may
     * wait for an owner. Many rounds; the watchdog fails a hang.
     */
    private static void crossClose(Check check) throws Exception {
        int rounds = 50;
        int closedBoth = 0;
        for (int round = 0; round < rounds; ++round) {
            JogDial[] dial = {null};
            KeyPad[] keys = {null};
            CountDownLatch bothInside = new CountDownLatch(2);
            dial[0] = JogDial.open(event -> closeWhenBothInside(bothInside, keys[0]), null);
            keys[0] = KeyPad.open(event -> closeWhenBothInside(bothInside, dial[0]));
            Thread dialDevice = new Thread(() -> StandInDrivers.fire(JOG_DIAL, 1));
            dialDevice.start();
            StandInDrivers.fire(KEY_PAD, 1);
            dialDevice.join();
            boolean closed = !dial[0].isOpen() && !keys[0].isOpen();
            dial[0].close(); // both owners end
            keys[0].close();
            if (closed && bothInside.getCount() == 0) ++closedBoth;
        }
        check.equal("rounds where each listener closed the other's handle from inside its call", rounds, closedBoth);
        check.isTrue("owner threads ended", !alive("dravlo-keypad") && !alive("dravlo-jogdial"));
        StandInDrivers.takeCalls(JOG_DIAL);
        StandInDrivers.takeCalls(KEY_PAD);
    }

    private static void closeWhenBothInside(CountDownLatch bothInside, AutoCloseable other) {
        bothInside.countDown();
        try {
            if (bothInside.await(10, TimeUnit.SECONDS)) other.close();
        } catch (Exception unexpected) {
            throw new IllegalStateException(unexpected);
        }
    }

    /**
     * A jog dial listener opens a keypad while another KeyPad.open() waits for the last keypad, whose
     * owner's uninitialise waits for a keypad listener that waits for the jog dial listener: refused
     * at once, never waiting behind main's open(). (Many listeners opening the other kind deadlocked.)
     */
    private static void crossOpenWhileAnotherOpens(Check check) throws Exception {
        CountDownLatch closed = new CountDownLatch(1);
        CountDownLatch dialListenerDone = new CountDownLatch(1);
        boolean[] released = {false};
        KeyPad[] keys = {null};
        keys[0] = KeyPad.open(event -> {
            keys[0].close();
            closed.countDown();
            try {
                released[0] = dialListenerDone.await(10, TimeUnit.SECONDS);
            } catch (InterruptedException unexpected) {
                Thread.currentThread().interrupt();
            }
        });
        Thread keyDevice = new Thread(() -> StandInDrivers.fire(KEY_PAD, 1));
        keyDevice.start();
        closed.await();
        Thread opener = new Thread(() -> check.returnsNormally("the other open() then", () -> KeyPad.open().close()));
        opener.start();
        while (opener.getState() != Thread.State.WAITING) Thread.yield();
        Throwable[] refused = {null};
        JogDial dial = JogDial.open(event -> {
            try {
                KeyPad.open().close();
            } catch (Throwable thrown) {
                refused[0] = thrown;
            }
            dialListenerDone.countDown();
        }, null);
        StandInDrivers.fire(JOG_DIAL, 1);
        keyDevice.join();
        opener.join();
        dial.close();
        check.equal("open() of the other kind from a listener while another open() waits: refused",
            "java.lang.IllegalStateException: another KeyPad.open() is under way; open() from inside a listener cannot"
                + " wait for it",
            String.valueOf(refused[0]));
        check.isTrue("the keypad listener waiting for it was released by it, not by its timeout", released[0]);
        StandInDrivers.takeCalls(JOG_DIAL);
        StandInDrivers.takeCalls(KEY_PAD);
    }

    /**
     * A device that fires from Start: a listener closes the handle before open() has returned. The
     * close is kept: open() returns the handle closed, and the owner tears the driver down.
     */
    private static void closeWhileOpening(Check check) throws Exception {
        StandInDrivers.fireOnNextConnect(KEY_PAD, 3);
        int[] calls = {0};
        KeyPad keys = KeyPad.open(event -> {
            if (++calls[0] == 1) openingKeyPad().close();
        });
        check.isTrue("open() returns the handle that a listener closed while it opened", !keys.isOpen());
        check.equal("no listener call after that close", 1, calls[0]);
        keys.close();
        check.equal("the owner connected and tore down",
            calls("registerKeyListenerImpl initializeImpl getNumberOfDevicesImpl uninitializeImpl", "dravlo-keypad"),
            StandInDrivers.takeCalls(KEY_PAD));
        check.throwsExactly("a command to it", IllegalStateException.class, "KeyPad is closed",
            () -> keys.setBacklight(1, true));
    }

    /** The keypad that open() is opening: no program can reach it before open() returns. */
    private static KeyPad openingKeyPad() {
        try {
            Field kindField = KeyPad.class.getDeclaredField("KIND");
            kindField.setAccessible(true);
            Object kind = kindField.get(null);
            Field latest = kind.getClass().getDeclaredField("latest");
            latest.setAccessible(true);
            // Not under the kind's lock, which the opener holds while it waits for this listener's
            // thread; the owner's start has published the field to it.
            return (KeyPad) latest.get(kind);
        } catch (ReflectiveOperationException unreachable) {
            throw new IllegalStateException(unreachable);
        }
    }

    /** Opens a keypad into `handle` with a listener that nothing else holds. */
    private static WeakReference<KeyListener> openWith(KeyPad[] handle) throws IOException {
        KeyListener listener = new KeyListener() {
            @Override
            public void onKeyEvent(KeyEvent event) {}
        };
        handle[0] = KeyPad.open(listener);
        return new WeakReference<>(listener);
    }

    /**
     * The library's texts, the COM texts with the hint; the COM reason as the cause, with a hint
     * where the driver is missing, and no cause without a reason; nothing left open after a failure.
     */
    private static void failures(Check check) throws Exception {
        String missing = "creating the Axis keypad object: 0x80040154 Class not registered";
        Object[][] failures = {
            {KEY_PAD, "Failed to initialize COM context", null, "Failed to initialize COM context" + HINT, null},
            {JOG_DIAL, "Faild to initialize COM context", "starting COM on the initialising thread: 0x80010106",
                "Faild to initialize COM context" + HINT, "starting COM on the initialising thread: 0x80010106"},
            {KEY_PAD, "KeyPad driver initialization failed", missing, "KeyPad driver initialization failed",
                missing + " (the Axis device driver is not installed, or it is installed for 32-bit programs only"
                    + " and this JVM is 64-bit)"},
            // Reading the reason fails: the failure is still thrown, and the owner still tears down.
            {JOG_DIAL, "JogDial driver initialization failed", "!java/lang/OutOfMemoryError",
                "JogDial driver initialization failed", null},
        };
        for (Object[] failure : failures) {
            int kind = (Integer) failure[0];
            StandInDrivers.failNextInitialize(kind, (String) failure[1], (String) failure[2]);
            IOException thrown = null;
            try {
                (kind == KEY_PAD ? (Check.Body) KeyPad::open : (Check.Body) JogDial::open).run();
            } catch (IOException expected) {
                thrown = expected;
            } catch (Throwable other) {
                check.unexpected("open failing with " + failure[1], other);
            }
            check.equal("message for " + failure[1], failure[3], thrown == null ? null : thrown.getMessage());
            check.equal("cause for " + failure[1], failure[4],
                thrown == null || thrown.getCause() == null ? null : thrown.getCause().getMessage());
            check.equal("nothing left open after " + failure[1], 0, StandInDrivers.comOwed());
        }
        KeyPad.open().close();
        check.isTrue(
            "opens after the failures", StandInDrivers.takeCalls(KEY_PAD).endsWith("uninitializeImpl@dravlo-keypad\n"));
        StandInDrivers.takeCalls(JOG_DIAL);
    }

    private static void record(List<String> list, String entry) {
        synchronized (list) { list.add(entry + "@" + Thread.currentThread().getName()); }
    }

    private static String calls(String natives, String thread) {
        StringBuilder text = new StringBuilder();
        for (String call : natives.split(" ")) text.append(call).append('@').append(thread).append('\n');
        return text.toString();
    }

    private static boolean alive(String name) {
        for (Thread thread : Thread.getAllStackTraces().keySet()) {
            if (name.equals(thread.getName())) return true;
        }
        return false;
    }
}
