package applet.utils.dravlo;

import java.io.IOException;

/**
 * An open keypad: keypad 0 of the Axis device driver, whose buttons send events and whose button
 * backlights can be switched. Open it with its listener (more may be added later), close it;
 * {@code try}-with-resources does the last step:
 *
 * <pre>{@code
 * try (KeyPad keys = KeyPad.open(event -> System.out.println(event))) {
 *     keys.setBacklight(1, true);
 *     Thread.sleep(10000);
 * }
 * }</pre>
 *
 * <p>The handle makes every native call of the driver on a thread of its own, named {@code
 * dravlo-keypad}, so it may be opened, used and closed from any thread, also while a {@link JogDial}
 * is open. Listeners run on the device's threads, named {@code dravlo-keypad-events} while they do.
 * The <a href="{@docRoot}/overview-summary.html">overview</a> states the thread contract in full.
 *
 * <p>There is one keypad driver per process: a second handle can be opened only once the first is
 * closed.
 */
public final class KeyPad extends DriverHandle {
    private static final Kind KIND = new Kind("KeyPad", "dravlo-keypad");
    private final KeyPadDriver driver = new KeyPadDriver();

    private KeyPad() { super(KIND); }

    /**
     * Opens the keypad without listeners; events reach no one until a listener is added.
     *
     * @return the open keypad
     * @throws IOException as {@link #open(KeyListener)}
     * @throws IllegalStateException as {@link #open(KeyListener)}
     */
    public static KeyPad open() throws IOException { return open(null); }

    /**
     * Loads the native library when needed, starts the owner thread and connects to the Axis keypad
     * driver there; from then on keypad 0 sends its events to the listeners. The listener given here
     * is in place before the device starts, so it misses no event.
     *
     * @param keyListener the first listener for the buttons, or null
     * @return the open keypad
     * @throws IOException when the driver cannot be opened, with the native library's text as its
     *     message, for example "KeyPad driver initialization failed" when the Axis keypad driver is
     *     not installed. The COM text "Failed to initialize COM context" comes with the hint "
     *     (already initialised on this thread, or a previous failure not cleaned up)". Where COM
     *     failed, the cause is an {@code IOException} that says which call failed, with its HRESULT
     *     and the system's text for it, for example "creating the Axis keypad object: 0x80040154 Class
     *     not registered" and a hint; otherwise there is no cause. Nothing is left open.
     * @throws IllegalStateException when a keypad is open already, when called from inside a
     *     keypad listener, or when called from inside any listener while the last keypad is still
     *     closing or another is being opened
     * @throws UnsatisfiedLinkError when the native library cannot be loaded, or is not the version of
     *     this jar
     */
    public static KeyPad open(KeyListener keyListener) throws IOException {
        DravloLibrary.load();
        KeyPad keys = new KeyPad();
        if (keyListener != null) keys.addKeyListener(keyListener);
        KIND.open(keys);
        return keys;
    }

    /**
     * Switches the backlight of one button of keypad 0. The command is queued for the owner thread
     * and carried out after the earlier ones, so this returns at once, also inside a listener. A
     * command given before {@link #close()} reaches the device before it closes, whichever thread
     * closes it, a listener included. The device driver's answer is not reported.
     *
     * @param button the button, as the device numbers it
     * @param on true to switch the light on, false to switch it off
     * @throws IllegalStateException when the keypad is closed
     */
    public void setBacklight(int button, boolean on) {
        final KeyCommand command = new KeyCommand(0, on ? KeyCommand.BACKLIGHT_ON : KeyCommand.BACKLIGHT_OFF, button);
        submit(new Runnable() {
            @Override
            public void run() {
                driver.executeCommandImpl(command);
            }
        });
    }

    @Override
    void registerNative(Object listener) throws IOException {
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
