package applet.utils.dravlo;

/** The contract's KeyEvent, reporting each instance to the test census. */
public class KeyEvent {
    public int fDeviceID;
    public int fEventType;
    public int fButtonNumber;

    public KeyEvent() { dravlo.jvmtest.Census.keyEventBuilt(this); }
}
