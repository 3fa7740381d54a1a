package applet.utils.dravlo;

/** An outdated DialEvent for the partial-contract tests: no fShuttleState. */
public class DialEvent {
    public int fDeviceID;
    public int fEventType;
    public int fJogDirection;

    public DialEvent() {}
}
