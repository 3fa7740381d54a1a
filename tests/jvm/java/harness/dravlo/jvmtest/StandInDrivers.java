package dravlo.jvmtest;

/**
 * What the tests see of the stand-in for Dravlo.dll's drivers (native/DriverStandIn.cpp, in the
 * library named like Dravlo.dll): the natives each driver ran and on which Java thread, events from
 * a device thread, and COM as it stands on every thread.
 */
final class StandInDrivers {
    static final int JOG_DIAL = 0;
    static final int KEY_PAD = 1;

    private StandInDrivers() {}

    /** "<native>@<Java thread name>" per native call of driver `kind` since the last take. */
    static native String takeCalls(int kind);

    /** `events` events of driver `kind`, one after another from a new native thread; returns when it ended. */
    static native void fire(int kind, int events);

    /** The next initializeImpl of `kind`, once connected, fires `events` as fire() does before it returns. */
    static native void fireOnNextConnect(int kind, int events);

    /**
     * The next initializeImpl of `kind` starts COM and then fails with `message`, leaving `reason`
     * (or none, when null) as the thread's COM reason for DravloLibrary to read.
     */
    static native void failNextInitialize(int kind, String message, String reason);

    /** Threads whose COM start is not balanced yet. */
    static native int comOwed();
}
