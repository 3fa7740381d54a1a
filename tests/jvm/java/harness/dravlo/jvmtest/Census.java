package dravlo.jvmtest;

import java.lang.ref.Cleaner;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Counts the event objects that the counting contract's constructors report, and how many of them
 * the garbage collector has reclaimed since: an event the library still held by a global
 * reference would never be reclaimed. With the real contract nothing reports and every count is 0.
 * On request the constructors throw, so that the library's NewObject fails.
 */
public final class Census {
    private static final Cleaner CLEANER = Cleaner.create();
    private static final AtomicLong DIAL_EVENTS = new AtomicLong();
    private static final AtomicLong KEY_EVENTS = new AtomicLong();
    private static final AtomicLong RECLAIMED = new AtomicLong();
    private static volatile String refusal;

    private Census() {}

    /** Makes every event constructor throw IllegalStateException(`message`) until called with null. */
    static void refuseConstruction(String message) { refusal = message; }

    /** Called by the counting DialEvent constructor. */
    public static void dialEventBuilt(Object event) {
        refuseIfAsked();
        DIAL_EVENTS.incrementAndGet();
        CLEANER.register(event, RECLAIMED::incrementAndGet);
    }

    /** Called by the counting KeyEvent constructor. */
    public static void keyEventBuilt(Object event) {
        refuseIfAsked();
        KEY_EVENTS.incrementAndGet();
        CLEANER.register(event, RECLAIMED::incrementAndGet);
    }

    private static void refuseIfAsked() {
        String message = refusal;
        if (message != null) throw new IllegalStateException(message);
    }

    static long dialEvents() { return DIAL_EVENTS.get(); }

    static long keyEvents() { return KEY_EVENTS.get(); }

    /**
     * Runs the collector until every event built so far has been reclaimed or `timeoutMillis`
     * passed; returns how many are still not reclaimed.
     */
    static long awaitAllReclaimed(long timeoutMillis) throws InterruptedException {
        long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
        long outstanding;
        while ((outstanding = DIAL_EVENTS.get() + KEY_EVENTS.get() - RECLAIMED.get()) != 0
            && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(10);
        }
        return outstanding;
    }
}
