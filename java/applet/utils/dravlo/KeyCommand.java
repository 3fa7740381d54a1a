package applet.utils.dravlo;

/** A keypad command built by Java and read by the native library. */
public class KeyCommand {
    /** Keypad number; commands always go to keypad 0. */
    public int fDeviceID;
    /** 0 switches the button's backlight off, 1 switches it on; other values do nothing. */
    public int fType;
    /** The button whose backlight is switched. */
    public int fButtonNumber;

    public KeyCommand() {}

    public KeyCommand(int deviceId, int type, int buttonNumber) {
        fDeviceID = deviceId;
        fType = type;
        fButtonNumber = buttonNumber;
    }
}
