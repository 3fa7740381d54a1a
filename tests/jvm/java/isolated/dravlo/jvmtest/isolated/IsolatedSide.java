package dravlo.jvmtest.isolated;

import applet.utils.dravlo.DialEvent;
import dravlo.jvmtest.IsolatedWorld;
import java.io.IOException;
import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.List;

/**
 * Loaded only by an isolating class loader that also holds the Java contract. Its natives are the
 * test driver's, bound by Listeners.linkIsolated.
 */
public final class IsolatedSide implements IsolatedWorld {
    private static native void bind0() throws IOException;

    private static native void registerDialListener(Object listener) throws IOException;

    private static native void fireDial(int deviceId, int shuttleState, int jogDirection, int eventType);

    private static native void fireDialHere(int deviceId, int shuttleState, int jogDirection, int eventType);

    private static native void release0();

    private final List<String> received = new ArrayList<>();

    /** Records every dial event into the side's list. */
    private final class Recorder {
        @SuppressWarnings("unused") // called through JNI
        public void onDialEvent(DialEvent event) {
            synchronized (received) {
                received.add(
                    event.fDeviceID + "," + event.fEventType + "," + event.fShuttleState + "," + event.fJogDirection);
            }
        }
    }

    @Override
    public void bind() throws IOException {
        bind0();
    }

    @Override
    public WeakReference<?> registerRecorder() throws IOException {
        Recorder recorder = new Recorder();
        registerDialListener(recorder);
        return new WeakReference<>(recorder);
    }

    @Override
    public void fireOnNativeThread(int deviceId, int shuttleState, int jogDirection, int eventType) {
        fireDial(deviceId, shuttleState, jogDirection, eventType);
    }

    @Override
    public void fireHere(int deviceId, int shuttleState, int jogDirection, int eventType) {
        fireDialHere(deviceId, shuttleState, jogDirection, eventType);
    }

    @Override
    public List<String> received() {
        synchronized (received) { return List.copyOf(received); }
    }

    @Override
    public void release() {
        release0();
    }
}
