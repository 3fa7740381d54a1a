package dravlo.bench;

import applet.utils.dravlo.DialEvent;

/**
 * The real-JVM figures: the library's event forwarding against the same JNI sequence written by
 * hand, on a fresh native thread per event and on a native thread that stays attached. The natives
 * time the runs (or count their instructions: argument "count") and print them; this side only
 * supplies the machine and a listener that does nothing.
 */
public final class ForwardingBench {
    private ForwardingBench() {}

    /** Registered with both forwardings; its callback is as cheap as a Java callback gets. */
    public static final class NullListener {
        public void onDialEvent(DialEvent event) {}
    }

    /** Binds the library's forwarding and the hand-written one to {@code listener}. */
    static native boolean bind(Object listener);

    /** Prints the runs and the memory figures; sizes as in bench/BenchRuns.h, shorter when quick. */
    static native void run(boolean quick);

    /**
     * Counts the instructions of each forwarding on the thread that runs it, under callgrind (see
     * bench/BenchRuns.h); prints which dump is which.
     */
    static native void count();

    /** Releases both listener references. */
    static native void release();

    public static void main(String[] args) {
        System.loadLibrary("dravlo_bench_jni");
        if (!bind(new NullListener())) {
            System.out.println("error jvm: could not bind the forwardings");
            System.exit(1);
        }
        String mode = args.length > 0 ? args[0] : "";
        if (mode.equals("count")) {
            count();
        } else {
            run(mode.equals("quick"));
        }
        release();
    }
}
