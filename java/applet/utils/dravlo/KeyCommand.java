package applet.utils.dravlo;

/**
 * A keypad command, passed to {@link KeyPadDriver#executeCommandImpl(KeyCommand)}. The library reads
 * its three fields when the command is executed.
 */
public class KeyCommand {
    /** {@link #fType} that switches the button's backlight off. */
    public static final int BACKLIGHT_OFF = 0;
    /** {@link #fType} that switches the button's backlight on. */
    public static final int BACKLIGHT_ON = 1;

    /** Keypad number; not consulted: commands always go to keypad 0. */
    public int fDeviceID;
    /** {@link #BACKLIGHT_OFF} or {@link #BACKLIGHT_ON}; any other value does nothing. */
    public int fType;
    /** The button whose backlight is switched. */
    public int fButtonNumber;

    /** A command with every field 0: backlight off for button 0. */
    public KeyCommand() {}

    /**
     * A command with the given fields.
     *
     * @param deviceId the keypad number (not consulted)
     * @param type {@link #BACKLIGHT_OFF} or {@link #BACKLIGHT_ON}
     * @param buttonNumber the button whose backlight is switched
     */
    public KeyCommand(int deviceId, int type, int buttonNumber) {
        fDeviceID = deviceId;
        fType = type;
        fButtonNumber = buttonNumber;
    }
}
