package dravlo.jvmtest;

import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPadDriver;
import java.util.Random;

/**
 * On sessions/teardown.session (events back to back from each Start): teardowns racing the
 * session, both drivers at once, and a Java thread re-registering while events arrive. Counts are
 * exact; the JVM then exits as after any program.
 */
final class RealTeardownTests implements TestGroup {
    private static final int ROUNDS = 150;  // per driver
    private static final int EVENTS = 300;  // of each kind per Start

    /** Counts callbacks, and those that arrive after its driver's uninitializeImpl returned. */
    static final class Counting extends RealJvm.Recorder {
        volatile boolean closed;
        int calls;
        int late;

        @Override
        synchronized void add(String event) {
            ++calls;
            if (closed) ++late;
        }
    }

    /** A counting listener that is only counted. */
    static final class Tally implements KeyListener {
        int calls;

        @Override
        public synchronized void onKeyEvent(KeyEvent event) { ++calls; }

        synchronized int calls() { return calls; }
    }

    @Override
    public void run(final Check check) throws Exception {
        System.load(RealJvm.LIBRARY);
        final int[] keyPadTotals = new int[3];
        final KeyPadDriver keyPad = new KeyPadDriver();
        Thread keyPadRounds = RealJvm.start(check, "keypad rounds", () -> {
            race(RealJvm.keyPad(keyPad), new Random(2), keyPadTotals);
            reregistering(check, keyPad);
        });
        int[] jogDialTotals = new int[3];
        race(RealJvm.jogDial(), new Random(1), jogDialTotals);
        keyPadRounds.join();
        Thread.sleep(300);
        Object[][] totals = {{"jog dial", jogDialTotals}, {"keypad", keyPadTotals}};
        for (Object[] row : totals) {
            int[] counts = (int[]) row[1];
            check.equal(row[0] + ": every initializeImpl and uninitializeImpl returned 0", 0, counts[0]);
            check.equal(row[0] + ": callbacks after uninitializeImpl returned", 0, counts[2]);
            check.isTrue(row[0] + ": events reached the listeners meanwhile (" + counts[1] + ")", counts[1] > 0);
        }
    }

    /** ROUNDS teardowns at random moments of the session; totals: results, callbacks, late callbacks. */
    private static void race(RealJvm.Driver driver, Random random, int[] totals) throws Exception {
        for (int round = 0; round < ROUNDS; ++round) {
            Counting listener = new Counting();
            driver.register(listener);
            totals[0] += driver.initialize();
            Thread.sleep(random.nextInt(15));
            totals[0] += driver.uninitialize();
            listener.closed = true;
            synchronized (listener) {
                totals[1] += listener.calls;
                totals[2] += listener.late;
            }
        }
    }

    /** Two listeners swapped by a Java thread while a whole Start's events arrive: each event reaches one. */
    private static void reregistering(Check check, final KeyPadDriver keyPad) throws Exception {
        final Tally first = new Tally();
        final Tally second = new Tally();
        keyPad.registerKeyListenerImpl(first);
        check.equal("keypad: initializeImpl for re-registering", 0, keyPad.initializeImpl());
        final boolean[] done = {false};
        final int[] swaps = {0};
        Thread swapper = RealJvm.start(check, "re-registering", () -> {
            while (true) {
                synchronized (done) {
                    if (done[0]) return;
                }
                keyPad.registerKeyListenerImpl(swaps[0] % 2 == 0 ? second : first);
                ++swaps[0];
                Thread.yield();
            }
        });
        boolean all = RealJvm.await(30000, () -> first.calls() + second.calls() >= EVENTS);
        synchronized (done) {
            done[0] = true;
        }
        swapper.join();
        Thread.sleep(300);
        check.isTrue("keypad: a whole session arrived while re-registering", all);
        check.equal("keypad: each event reached exactly one of the listeners", EVENTS, first.calls() + second.calls());
        check.isTrue("keypad: both listeners received events (" + first.calls() + ", " + second.calls() + ", "
                         + swaps[0] + " registrations)",
            first.calls() > 0 && second.calls() > 0);
        check.equal("keypad: uninitializeImpl after re-registering", 0, keyPad.uninitializeImpl());
    }
}
