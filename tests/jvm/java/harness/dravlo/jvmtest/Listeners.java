package dravlo.jvmtest;

import java.io.IOException;

/**
 * A test driver built like the library's drivers: event bindings, one listener holder per kind of
 * event and the VM binding, with registration entry points and event records fed in from threads
 * of the test's choosing. Each record is forwarded into Java as the drivers forward device events.
 */
final class Listeners {
    private Listeners() {}

    /** The fixed messages of this driver's registration entry points. */
    static final String DIAL_REGISTRATION_FAILED = "test driver: dial listener registration failed";
    static final String KEY_REGISTRATION_FAILED = "test driver: key listener registration failed";

    /** Bits of {@link #fireDialOnSelfAttachedThread}. */
    static final int STILL_ATTACHED = 1;
    static final int EXCEPTION_PENDING = 2;

    /** Binds the VM and both event classes on the calling thread. */
    static native void bind() throws IOException;

    /** The registration entry points; null unregisters. */
    static native void registerDialListener(Object listener) throws IOException;

    static native void registerKeyListener(Object listener) throws IOException;

    /** Uninitialisation's release of both holders. */
    static native void release();

    static native boolean dialRegistered();

    static native boolean keyRegistered();

    /** One dial event forwarded on a new native thread, which the forwarding attaches; returns after it ended. */
    static native void fireDial(int deviceId, int shuttleState, int jogDirection, int eventType);

    /** One key event forwarded on a new native thread; returns after it ended. */
    static native void fireKey(int deviceId, int buttonNumber, int eventType);

    /** One dial event forwarded synchronously on the calling Java thread. */
    static native void fireDialHere(int deviceId, int shuttleState, int jogDirection, int eventType);

    /**
     * One dial event forwarded on a new native thread that the test attaches itself before the
     * forwarding and detaches after it. Returns STILL_ATTACHED when the thread was still attached
     * after the forwarding, plus EXCEPTION_PENDING when a Java exception was left pending on it.
     */
    static native int fireDialOnSelfAttachedThread(int deviceId, int shuttleState, int jogDirection, int eventType);

    /**
     * `threads` native threads, each forwarding `events` records (numbered as ListenerLoadTests.Tally expects); returns
     * after all of them ended.
     */
    static native void load(int threads, int events);

    /**
     * Binds the static natives bind0, registerDialListener, fireDial, fireDialHere and release0 of `isolated` to the
     * test driver.
     */
    static native void linkIsolated(Class<?> isolated) throws IOException;
}
