package applet.utils.dravlo;

/**
 * Java face of the native jog dial driver in Dravlo.dll. Failures arrive as java.io.IOException.
 * A dial listener is any object with {@code void onDialEvent(DialEvent)}; a key listener any object
 * with {@code void onKeyEvent(KeyEvent)}. Calls of one driver must not overlap.
 */
public class JogDialDriver {
    public native int initializeImpl() throws java.io.IOException;

    public native int uninitializeImpl();

    public native int getNumberOfDevicesImpl();

    public native void registerDialListenerImpl(Object listener) throws java.io.IOException;

    public native void registerKeyListenerImpl(Object listener) throws java.io.IOException;
}
