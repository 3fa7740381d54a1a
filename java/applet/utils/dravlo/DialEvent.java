package applet.utils.dravlo;

/**
 * One shuttle ring or jog wheel event of a jog dial. The native library creates it with the
 * no-argument constructor, sets its fields and hands it to the {@link DialListener}. The library
 * finds this class by name from the device's thread: it must be visible to the system class loader
 * (put the jar on the class path, not only in a child class loader).
 */
public class DialEvent {
    /** {@link #fEventType} of a shuttle ring event. */
    public static final int SHUTTLE = 0;
    /** {@link #fEventType} of a jog wheel event. */
    public static final int JOG = 1;
    /** {@link #fJogDirection} of a clockwise jog wheel step. */
    public static final int CLOCKWISE = 0;
    /** {@link #fJogDirection} of a counter-clockwise jog wheel step. */
    public static final int COUNTER_CLOCKWISE = 1;

    /** Device that reported the event, as the device driver numbers it. */
    public int fDeviceID;
    /** {@link #SHUTTLE} or {@link #JOG}. */
    public int fEventType;
    /** Shuttle position in a shuttle event (signed, 0 in the middle); 0 in a jog event. */
    public int fShuttleState;
    /** In a jog event {@link #CLOCKWISE} or {@link #COUNTER_CLOCKWISE}; 0 in a shuttle event. */
    public int fJogDirection;

    /** An event with every field 0; the library sets the fields. */
    public DialEvent() {}

    /** @return the four fields, for logs */
    @Override
    public String toString() {
        return "DialEvent[device=" + fDeviceID + ", type=" + fEventType + ", shuttle=" + fShuttleState
                + ", jogDirection=" + fJogDirection + "]";
    }
}
