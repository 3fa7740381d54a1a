package applet.utils.dravlo;

/** One button event of a jog dial or keypad; the native library builds it and sets its fields. */
public class KeyEvent {
    /** Device that reported the event. */
    public int fDeviceID;
    /** 0 for button down, 1 for button up. */
    public int fEventType;
    /** The button. */
    public int fButtonNumber;

    public KeyEvent() {}

    @Override
    public String toString() {
        return "KeyEvent[device=" + fDeviceID + ", type=" + fEventType + ", button=" + fButtonNumber + "]";
    }
}
