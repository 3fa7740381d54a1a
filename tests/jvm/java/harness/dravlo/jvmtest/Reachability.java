package dravlo.jvmtest;

import java.lang.ref.WeakReference;
import java.util.Collection;

/**
 * Whether objects can still be reached, seen through weak references: the way to tell from Java
 * that native code holds, or no longer holds, a global reference to an object nothing else holds.
 */
final class Reachability {
    private static final long TIMEOUT_MILLIS = 10_000;

    private Reachability() {}

    /** Runs the collector until every reference is cleared or time runs out; returns how many are not. */
    static long notCleared(Collection<? extends WeakReference<?>> refs) throws InterruptedException {
        long deadline = System.nanoTime() + TIMEOUT_MILLIS * 1_000_000L;
        long left;
        while ((left = refs.stream().filter(ref -> ref.get() != null).count()) != 0 && System.nanoTime() < deadline) {
            System.gc();
            Thread.sleep(10);
        }
        return left;
    }

    /** True when `ref` was cleared by the collector within the time allowed. */
    static boolean cleared(WeakReference<?> ref) throws InterruptedException {
        return notCleared(java.util.List.of(ref)) == 0;
    }

    /**
     * True when the referent of `ref` survived a collection that provably ran (an unreachable
     * witness object was reclaimed meanwhile): something outside Java's own references holds it.
     */
    static boolean survives(WeakReference<?> ref) throws InterruptedException {
        WeakReference<Object> witness = new WeakReference<>(new Object());
        return cleared(witness) && ref.get() != null;
    }
}
