package applet.utils.dravlo;

/**
 * Java face of the native keypad driver in Dravlo.dll. Failures arrive as java.io.IOException.
 * A key listener is any object with {@code void onKeyEvent(KeyEvent)}. Calls of one driver must
 * not overlap.
 */
public class KeyPadDriver {
    public native int initializeImpl() throws java.io.IOException;

    public native int uninitializeImpl();

    public native int getNumberOfDevicesImpl();

    public native void registerKeyListenerImpl(Object listener) throws java.io.IOException;

    public native void executeCommandImpl(KeyCommand command);
}
