package applet.utils.dravlo;

/**
 * One button event of a jog dial or keypad. The native library creates it with the no-argument
 * constructor, sets its fields and hands it to the {@link KeyListener}. The library finds this class
 * by name from the device's thread: it must be visible to the system class loader (put the jar on
 * the class path, not only in a child class loader).
 */
public class KeyEvent {
    /** {@link #fEventType} of a button pressed. */
    public static final int BUTTON_DOWN = 0;
    /** {@link #fEventType} of a button released. */
    public static final int BUTTON_UP = 1;

    /** Device that reported the event, as the device driver numbers it. */
    public int fDeviceID;
    /** {@link #BUTTON_DOWN} or {@link #BUTTON_UP}. */
    public int fEventType;
    /** The button, as the device driver numbers it. */
    public int fButtonNumber;

    /** An event with every field 0; the library sets the fields. */
    public KeyEvent() {}

    /** @return the three fields, for logs */
    @Override
    public String toString() {
        return "KeyEvent[device=" + fDeviceID + ", type=" + fEventType + ", button=" + fButtonNumber + "]";
    }
}
