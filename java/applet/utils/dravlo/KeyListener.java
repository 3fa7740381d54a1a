package applet.utils.dravlo;

// A functional interface, deliberately not annotated: @FunctionalInterface is
// kept at run time, and a JVM whose class library lacks it (Avian) then fails
// to link every lambda and class that implements this interface.

/**
 * Receives the button events of a jog dial or a keypad. Add one with {@link
 * JogDial#addKeyListener(KeyListener)} or {@link KeyPad#addKeyListener(KeyListener)}, or register it
 * with {@link JogDialDriver#registerKeyListenerImpl(Object)} or {@link
 * KeyPadDriver#registerKeyListenerImpl(Object)}; a lambda will do.
 *
 * <p>The library calls {@link #onKeyEvent(KeyEvent)} on the thread on which the device driver reports
 * the event, attached to the JVM for that one call. The call is synchronous:
 * the device driver's event call waits until the listener returns, so keep it short. A device
 * driver may report events on more than one thread. An exception the listener throws goes to that
 * thread's uncaught exception handler, like any uncaught exception (by default it is printed to
 * the standard error stream), or to the handler a handle was given with {@code
 * setListenerExceptionHandler}, and is dropped; further events still come.
 */
public interface KeyListener {
    /**
     * Called once for every button pressed or released on device 0 of the driver it is registered
     * with.
     *
     * @param event a new event object, owned by the listener from now on
     */
    void onKeyEvent(KeyEvent event);
}
