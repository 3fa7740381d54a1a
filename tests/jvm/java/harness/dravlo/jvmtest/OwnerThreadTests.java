package dravlo.jvmtest;

import static dravlo.jvmtest.StandInDrivers.JOG_DIAL;
import static dravlo.jvmtest.StandInDrivers.KEY_PAD;

import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPad;
import java.io.IOException;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The Java handles (JogDial, KeyPad) over the stand-in drivers: every native call of a driver on
 * its owner thread, both drivers open from one thread, closes from other threads and from a
 * listener without a deadlock, COM balanced on every thread, failures with the library's text, and
 * listener exceptions routed to the chosen handler.
 */
final class OwnerThreadTests implements TestGroup {
    private static final String HINT = " (already initialised on this thread, or a previous failure not cleaned up)";

    @Override
    public void run(Check check) throws Exception {
        Thread watchdog = Watchdog.start("OwnerThread", 60);
        bothFromOneThread(check);
        closeFromListener(check);
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
        check.throwsExactly("a command after close", IllegalStateException.class, "KeyPad is closed",
            () -> keys.setBacklight(1, false));
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
        check.equal("teardown on the listener's thread, COM balanced by the owner",
            "uninitializeImpl@dravlo-keypad-events\nuninitializeImpl@dravlo-keypad\n"
                + calls("registerKeyListenerImpl initializeImpl getNumberOfDevicesImpl", "dravlo-keypad"),
            StandInDrivers.takeCalls(KEY_PAD));
        check.throwsExactly("a second keypad while one is open", IllegalStateException.class,
            "a KeyPad is already open; close it first", KeyPad::open);
        again[0].close();
        check.isTrue("a closed handle, still the kind's last, keeps no listener", Reachability.cleared(listener));
        StandInDrivers.takeCalls(KEY_PAD);
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

    /** The library's texts; the COM texts with the hint; nothing left open after a failure. */
    private static void failures(Check check) throws Exception {
        Object[][] failures = {
            {KEY_PAD, "Failed to initialize COM context", "Failed to initialize COM context" + HINT},
            {JOG_DIAL, "Faild to initialize COM context", "Faild to initialize COM context" + HINT},
            {KEY_PAD, "KeyPad driver initialization failed", "KeyPad driver initialization failed"},
        };
        for (Object[] failure : failures) {
            int kind = (Integer) failure[0];
            StandInDrivers.failNextInitialize(kind, (String) failure[1]);
            IOException thrown = null;
            try {
                (kind == KEY_PAD ? (Check.Body) KeyPad::open : (Check.Body) JogDial::open).run();
            } catch (IOException expected) {
                thrown = expected;
            } catch (Throwable other) {
                check.unexpected("open failing with " + failure[1], other);
            }
            check.equal("message for " + failure[1], failure[2], thrown == null ? null : thrown.getMessage());
            check.equal("cause for " + failure[1], failure[1],
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
