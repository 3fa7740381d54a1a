package dravlo.jvmtest;

import java.io.IOException;

/** Native threads attached through JavaVmBinding, the way device events reach Java. */
final class Attachments {
    private Attachments() {}

    /**
     * Binds a JavaVmBinding on the calling thread, then starts `threads` native threads; each runs
     * `rounds` times: attach, find the DialEvent class, build one DialEvent, call
     * listener.onDialEvent with it, delete it, detach. Returns the number of successful attaches;
     * returns after every thread ended.
     */
    static native int forwardFromNativeThreads(Object listener, int threads, int rounds) throws IOException;

    /** True when attach() on a binding that was never bound yields null. */
    static native boolean attachUnboundYieldsNull();
}
