package applet.utils.dravlo;

/** The contract's DialEvent, reporting each instance to the test census. */
public class DialEvent {
    public int fDeviceID;
    public int fEventType;
    public int fShuttleState;
    public int fJogDirection;

    public DialEvent() { dravlo.jvmtest.Census.dialEventBuilt(this); }
}
