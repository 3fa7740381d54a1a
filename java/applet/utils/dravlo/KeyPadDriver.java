package applet.utils.dravlo;

/**
 * Java face of the native keypad driver in Dravlo.dll: one process-wide driver behind every
 * instance of this class. Most programs use {@link KeyPad}, which makes these calls on a thread of
 * its own and keeps the rules below. Its first use loads Dravlo.dll through {@link
 * DravloLibrary#load()} (which file, and from where, is told there); when that fails, it throws the
 * loader's {@link UnsatisfiedLinkError}, and every later use {@link NoClassDefFoundError}.
 *
 * <p>Threads: {@link #initializeImpl()} makes the calling thread a COM single-threaded apartment;
 * call {@link #uninitializeImpl()} on that same thread, and give the keypad and the jog dial a
 * thread each. Any call may come from any thread, a listener's included: initialising and
 * uninitialising are one operation at a time, a teardown from inside a listener does not wait for
 * other threads' listener calls, and a failed initialisation leaves nothing behind (the README's
 * Threads section has the whole contract). Listeners run on the device's thread (see
 * {@link KeyListener}).
 *
 * <p>Only keypad 0 delivers events and takes commands; {@link #getNumberOfDevicesImpl()} still
 * counts them all.
 */
public class KeyPadDriver {
    // Loading cannot be forgotten: no native method of this class is reached before it ran.
    static { DravloLibrary.load(); }

    /** A handle on the process-wide native keypad driver; holds no state of its own. */
    public KeyPadDriver() {}

    /**
     * Starts COM on the calling thread, connects to the Axis keypad driver, counts the keypads and,
     * when there is one, starts keypad 0: from then on its events reach the registered listener and
     * it takes commands.
     *
     * @return 0, also after a failure (which arrives as the exception)
     * @throws java.io.IOException "Failed to initialize COM context" when COM is already started on
     *     this thread (an earlier initialisation not uninitialised, or another COM user);
     *     "KeyPad driver initialization failed" when the Axis keypad driver is not installed or
     *     cannot be started; "Could not get KeyPad device" when it counts keypads but gives none;
     *     "Could not get virtual machine", "Class applet/utils/dravlo/KeyEvent not found" and the
     *     like when the event and command classes cannot be bound
     */
    public native int initializeImpl() throws java.io.IOException;

    /**
     * Stops keypad 0, disconnects from the Axis driver, releases the registered listener and ends
     * COM on the calling thread when initialisation started it. Never throws.
     *
     * @return 0
     */
    public native int uninitializeImpl();

    /**
     * The number of keypads that the last initialisation counted.
     *
     * @return the count; 0 before the first initialisation
     */
    public native int getNumberOfDevicesImpl();

    /**
     * Registers the listener for the keypad's buttons, replacing the one registered before. Allowed
     * before or after {@link #initializeImpl()}; {@link #uninitializeImpl()} releases it.
     *
     * @param listener a {@link KeyListener}, or any object with a method {@code void
     *     onKeyEvent(KeyEvent)}; {@code null} unregisters
     * @throws java.io.IOException "onKeyEvent not found in ..." when the object has no such method
     *     (the earlier listener stays); "KeyPad: key listener registration failed" on any other
     *     failure
     */
    public native void registerKeyListenerImpl(Object listener) throws java.io.IOException;

    /**
     * Switches a backlight of keypad 0 on or off, whatever device the command names. Does nothing
     * before initialisation, with no keypad, or for an unknown {@link KeyCommand#fType}. Never
     * throws; the device's answer is not reported.
     *
     * @param command the command, read once on this call
     */
    public native void executeCommandImpl(KeyCommand command);
}
