package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.KeyEvent;
import java.io.IOException;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;

/**
 * Native threads forward events while a Java thread keeps replacing (and in the second run also
 * unregistering) the listeners. Every event is numbered; the listeners tally what arrives, and
 * afterwards every replaced listener and every event object must be collectable, the registered
 * listener alone being held. Runs with the counting contract.
 */
final class ListenerLoadTests implements TestGroup {
    private static final int THREADS = 4;
    private static final int EVENTS = 10_000;
    private static final int SENT = THREADS * EVENTS;

    /** What all listeners of one run received, by event number. */
    static final class Tally {
        final AtomicIntegerArray deliveries = new AtomicIntegerArray(SENT);
        final AtomicLong delivered = new AtomicLong();
        final AtomicLong malformed = new AtomicLong();

        void dial(DialEvent event) {
            int i = index(event.fDeviceID);
            int kind = (i >> 1) & 1;
            boolean wellFormed = event.getClass() == DialEvent.class && i % 2 == 0 && event.fEventType == kind
                && event.fShuttleState == (kind == 0 ? i : 0) && event.fJogDirection == (kind == 1 ? (i >> 2) & 1 : 0);
            count(event.fDeviceID, wellFormed);
        }

        void key(KeyEvent event) {
            int i = index(event.fDeviceID);
            boolean wellFormed = event.getClass() == KeyEvent.class && i % 2 == 1 && event.fButtonNumber == i % 97
                && event.fEventType == ((i >> 1) & 1);
            count(event.fDeviceID, wellFormed);
        }

        /** The event's index on its load thread, as the natives number them; -1 when out of range. */
        private static int index(int deviceId) { return deviceId >= 0 && deviceId < SENT ? deviceId % EVENTS : -1; }

        private void count(int deviceId, boolean wellFormed) {
            delivered.incrementAndGet();
            if (!wellFormed || deviceId < 0 || deviceId >= SENT) {
                malformed.incrementAndGet();
            } else {
                deliveries.incrementAndGet(deviceId);
            }
        }

        long deliveredMoreThanOnce() {
            long twice = 0;
            for (int i = 0; i < SENT; ++i) twice += deliveries.get(i) > 1 ? 1 : 0;
            return twice;
        }
    }

    /** A dial and key listener; holds nothing but the shared tally. */
    static final class Listener {
        private final Tally tally;

        Listener(Tally tally) { this.tally = tally; }

        public void onDialEvent(DialEvent event) { tally.dial(event); }

        public void onKeyEvent(KeyEvent event) { tally.key(event); }
    }

    /** Replaces both listeners again and again; every eighth time unregisters them instead, if asked. */
    static final class Registrar extends Thread {
        private final Tally tally;
        private final boolean unregister;
        volatile boolean stop;
        final List<WeakReference<Listener>> retired = new ArrayList<>();
        WeakReference<Listener> current;
        int registrations;
        int unregistrations;
        Throwable failure;

        Registrar(Tally tally, boolean unregister) {
            super("registrar");
            this.tally = tally;
            this.unregister = unregister;
        }

        @Override
        public void run() {
            try {
                for (int n = 0; !stop; ++n) {
                    if (unregister && n % 8 == 7) {
                        Listeners.registerDialListener(null);
                        Listeners.registerKeyListener(null);
                        retire(null);
                        ++unregistrations;
                    } else {
                        registerNew();
                    }
                    LockSupport.parkNanos(20_000);
                }
                registerNew(); // end with a registered listener
            } catch (Throwable thrown) {
                failure = thrown;
            }
        }

        void registerNew() throws IOException {
            Listener listener = new Listener(tally);
            Listeners.registerDialListener(listener);
            Listeners.registerKeyListener(listener);
            retire(new WeakReference<>(listener));
            ++registrations;
        }

        private void retire(WeakReference<Listener> next) {
            if (current != null) retired.add(current);
            current = next;
        }
    }

    @Override
    public void run(Check check) throws Exception {
        Thread watchdog = Watchdog.start("ListenerLoad", 100);
        try {
            Listeners.bind();
            replacingUnderLoad(check, false);
            replacingUnderLoad(check, true);
        } finally {
            Listeners.release();
            watchdog.interrupt();
        }
    }

    private static void replacingUnderLoad(Check check, boolean unregister) throws Exception {
        String run = unregister ? "replacing and unregistering: " : "replacing: ";
        Tally tally = new Tally();
        long builtBefore = Census.dialEvents() + Census.keyEvents();
        Registrar registrar = new Registrar(tally, unregister);
        registrar.registerNew(); // every event has a listener unless the registrar unregisters
        long started = System.nanoTime();
        registrar.start();
        Listeners.load(THREADS, EVENTS);
        registrar.stop = true;
        registrar.join();
        long millis = (System.nanoTime() - started) / 1_000_000;
        System.out.println(run + SENT + " events in " + millis + " ms, " + registrar.registrations + " registrations, "
            + registrar.unregistrations + " unregistrations, " + tally.delivered.get() + " delivered");

        check.equal(run + "registrar failure", null, registrar.failure);
        check.equal(
            run + "every event built once", (long) SENT, Census.dialEvents() + Census.keyEvents() - builtBefore);
        check.equal(run + "malformed events", 0L, tally.malformed.get());
        check.equal(run + "events delivered more than once", 0L, tally.deliveredMoreThanOnce());
        long dropped = SENT - tally.delivered.get();
        if (unregister) {
            check.isTrue(run + "the registrar unregistered", registrar.unregistrations > 0);
            // Built once each (above) and delivered at most once each: every event not delivered
            // was dropped in notify, which drops only when the holder is empty.
            check.isTrue(run + "no more delivered than sent", dropped >= 0);
        } else {
            check.equal(run + "no event dropped", 0L, dropped);
        }
        check.isTrue(run + "listeners were replaced while events flowed", registrar.registrations > 10);

        check.equal(run + "replaced listeners left uncollected", 0L, Reachability.notCleared(registrar.retired));
        check.isTrue(run + "the registered listener is held", Reachability.survives(registrar.current));
        Listeners.release();
        check.isTrue(run + "and released at the end", Reachability.cleared(registrar.current));
        check.equal(run + "event objects left uncollected", 0L, Census.awaitAllReclaimed(10_000));
    }
}
