package applet.utils.dravlo;

/**
 * Java face of the native jog dial driver in Dravlo.dll: one process-wide driver behind every
 * instance of this class. Most programs use {@link JogDial}, which makes these calls on a thread of
 * its own and keeps the rules below. Its first use loads Dravlo.dll through {@link
 * DravloLibrary#load()} (which file, and from where, is told there); when that fails, it throws the
 * loader's {@link UnsatisfiedLinkError}, and every later use {@link NoClassDefFoundError}.
 *
 * <p>Threads: {@link #initializeImpl()} makes the calling thread a COM single-threaded apartment;
 * call {@link #uninitializeImpl()} on that same thread, and give the jog dial and the keypad a
 * thread each. Any call may come from any thread, a listener's included: initialising and
 * uninitialising are one operation at a time, a teardown from inside a listener does not wait for
 * other threads' listener calls, and a failed initialisation leaves nothing behind (the README's
 * Threads section has the whole contract). Listeners run on the device's thread (see
 * {@link DialListener}).
 *
 * <p>Only jog dial 0 delivers events; {@link #getNumberOfDevicesImpl()} still counts them all.
 */
public class JogDialDriver {
    // Loading cannot be forgotten: no native method of this class is reached before it ran.
    static { DravloLibrary.load(); }

    /** A handle on the process-wide native jog dial driver; holds no state of its own. */
    public JogDialDriver() {}

    /**
     * Starts COM on the calling thread, connects to the Axis jog dial driver, counts the jog dials
     * and, when there is one, starts jog dial 0: from then on its events reach the registered
     * listeners.
     *
     * @return 0, also after a failure (which arrives as the exception)
     * @throws java.io.IOException "Faild to initialize COM context" when COM is already started on
     *     this thread (an earlier initialisation not uninitialised, or another COM user);
     *     "JogDial driver initialization failed" when the Axis jog dial driver is not installed or
     *     cannot be started; "Could not get JogDial device" when it counts jog dials but gives none;
     *     "Could not get virtual machine", "Class applet/utils/dravlo/DialEvent not found" and the
     *     like when the event classes cannot be bound
     */
    public native int initializeImpl() throws java.io.IOException;

    /**
     * Stops jog dial 0, disconnects from the Axis driver, releases both registered listeners and
     * ends COM on the calling thread when initialisation started it. Never throws.
     *
     * @return 0
     */
    public native int uninitializeImpl();

    /**
     * The number of jog dials that the last initialisation counted.
     *
     * @return the count; 0 before the first initialisation
     */
    public native int getNumberOfDevicesImpl();

    /**
     * Registers the listener for shuttle ring and jog wheel events, replacing the one registered
     * before. Allowed before or after {@link #initializeImpl()}; {@link #uninitializeImpl()}
     * releases it.
     *
     * @param listener a {@link DialListener}, or any object with a method {@code void
     *     onDialEvent(DialEvent)}; {@code null} unregisters
     * @throws java.io.IOException "onDialEvent not found in ..." when the object has no such
     *     method (the earlier listener stays); "JogDial: dial listener registration failed" on any
     *     other failure
     */
    public native void registerDialListenerImpl(Object listener) throws java.io.IOException;

    /**
     * Registers the listener for the jog dial's buttons, replacing the one registered before.
     * Allowed before or after {@link #initializeImpl()}; {@link #uninitializeImpl()} releases it.
     *
     * @param listener a {@link KeyListener}, or any object with a method {@code void
     *     onKeyEvent(KeyEvent)}; {@code null} unregisters
     * @throws java.io.IOException "onKeyEvent not found in ..." when the object has no such method
     *     (the earlier listener stays); "JogDial: key listener registration failed" on any other
     *     failure
     */
    public native void registerKeyListenerImpl(Object listener) throws java.io.IOException;
}
