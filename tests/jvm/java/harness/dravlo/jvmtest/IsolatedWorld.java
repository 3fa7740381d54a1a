package dravlo.jvmtest;

import java.io.IOException;
import java.lang.ref.WeakReference;

/**
 * The test driver seen from a class that only an isolating class loader can load, together with
 * the Java contract: there a Java thread inside one of its natives finds the event classes, while
 * a native thread attached to the VM, which searches the system class loader, does not.
 */
public interface IsolatedWorld {
    /** Binds the VM and the event classes from a native of the isolated class. */
    void bind() throws IOException;

    /** Registers a new recording dial listener; returns a weak reference to it. */
    WeakReference<?> registerRecorder() throws IOException;

    /** One dial event forwarded on a new native thread. */
    void fireOnNativeThread(int deviceId, int shuttleState, int jogDirection, int eventType);

    /** One dial event forwarded on the calling Java thread, inside a native of the isolated class. */
    void fireHere(int deviceId, int shuttleState, int jogDirection, int eventType);

    /** The events the recorders received so far, as "device,type,shuttle,jogDirection". */
    java.util.List<String> received();

    /** Releases the test driver's listeners. */
    void release();
}
