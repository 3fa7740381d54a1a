package applet.utils.dravlo;

/** One shuttle ring or jog wheel event; the native library builds it and sets its fields. */
public class DialEvent {
    /** Device that reported the event. */
    public int fDeviceID;
    /** 0 for a shuttle event, 1 for a jog event. */
    public int fEventType;
    /** Shuttle position in a shuttle event; 0 in a jog event. */
    public int fShuttleState;
    /** In a jog event 0 for clockwise, 1 for counter clockwise; 0 in a shuttle event. */
    public int fJogDirection;

    public DialEvent() {}

    @Override
    public String toString() {
        return "DialEvent[device=" + fDeviceID + ", type=" + fEventType + ", shuttle=" + fShuttleState
                + ", jogDirection=" + fJogDirection + "]";
    }
}
