package applet.utils.dravlo;

import java.io.IOException;

/**
 * An open jog dial: jog dial 0 of the Axis device driver, with its shuttle ring, jog wheel and
 * buttons. Open it with its listeners (more may be added later), close it; {@code
 * try}-with-resources does the last step:
 *
 * <pre>{@code
 * try (JogDial dial = JogDial.open(event -> System.out.println(event), null)) {
 *     Thread.sleep(10000);
 * }
 * }</pre>
 *
 * <p>The handle makes every native call of the driver on a thread of its own, named {@code
 * dravlo-jogdial}, so it may be opened, used and closed from any thread, also while a {@link
 * KeyPad} is open. Listeners run on the device's threads, named {@code dravlo-jogdial-events} while
 * they do. The <a href="{@docRoot}/overview-summary.html">overview</a> states the thread contract in
 * full.
 *
 * <p>There is one jog dial driver per process: a second handle can be opened only once the first
 * is closed.
 */
public final class JogDial extends DriverHandle {
    private static final Kind KIND = new Kind("JogDial", "dravlo-jogdial");
    private final JogDialDriver driver = new JogDialDriver();

    private JogDial() { super(KIND); }

    /**
     * Opens the jog dial without listeners; events reach no one until a listener is added.
     *
     * @return the open jog dial
     * @throws IOException as {@link #open(DialListener, KeyListener)}
     * @throws IllegalStateException as {@link #open(DialListener, KeyListener)}
     */
    public static JogDial open() throws IOException { return open(null, null); }

    /**
     * Loads the native library when needed, starts the owner thread and connects to the Axis jog
     * dial driver there; from then on jog dial 0 sends its events to the listeners. The listeners
     * given here are in place before the device starts, so they miss no event.
     *
     * @param dialListener the first listener for the shuttle ring and the jog wheel, or null
     * @param keyListener the first listener for the buttons, or null
     * @return the open jog dial
     * @throws IOException when the driver cannot be opened, with the native library's text as its
     *     message, for example "JogDial driver initialization failed" when the Axis jog dial driver
     *     is not installed. The COM text "Faild to initialize COM context" (sic) comes with the hint
     *     " (already initialised on this thread, or a previous failure not cleaned up)". Where COM
     *     failed, the cause is an {@code IOException} that says which call failed, with its HRESULT
     *     and the system's text for it, for example "creating the Axis jog dial object: 0x80040154 Class
     *     not registered" and a hint; otherwise there is no cause. Nothing is left open.
     * @throws IllegalStateException when a jog dial is open already, when called from inside a
     *     jog dial listener, or when called from inside any listener while the last jog dial is still
     *     closing or another is being opened
     * @throws UnsatisfiedLinkError when the native library cannot be loaded, or is not the version of
     *     this jar
     */
    public static JogDial open(DialListener dialListener, KeyListener keyListener) throws IOException {
        DravloLibrary.load();
        JogDial dial = new JogDial();
        if (dialListener != null) dial.addDialListener(dialListener);
        if (keyListener != null) dial.addKeyListener(keyListener);
        KIND.open(dial);
        return dial;
    }

    /**
     * Adds a listener for the shuttle ring and the jog wheel, for the events from now on. Allowed
     * from any thread, a listener included.
     *
     * @param listener called once for every shuttle ring or jog wheel event of jog dial 0
     * @throws NullPointerException when {@code listener} is null
     * @throws IllegalStateException when the jog dial is closed
     */
    public synchronized void addDialListener(DialListener listener) {
        requireOpen();
        delivery.addDialListener(listener);
    }

    /**
     * Removes the last addition of {@code listener}; nothing when it was not added, or when the jog
     * dial is closed (a closed handle keeps no listener). A listener call already running may still
     * finish.
     *
     * @param listener a listener given to {@link #addDialListener(DialListener)}
     */
    public void removeDialListener(DialListener listener) { delivery.removeDialListener(listener); }

    @Override
    void registerNative(Object listener) throws IOException {
        driver.registerDialListenerImpl(listener);
        driver.registerKeyListenerImpl(listener);
    }

    @Override
    void initializeNative() throws IOException {
        driver.initializeImpl();
    }

    @Override
    int countNative() {
        return driver.getNumberOfDevicesImpl();
    }

    @Override
    void uninitializeNative() {
        driver.uninitializeImpl();
    }
}
