package dravlo.jvmtest.isolated;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DialListener;
import applet.utils.dravlo.JogDialDriver;

/** Loaded only by the application's own class loader, together with the Java library. */
public final class IsolatedSession {
    private IsolatedSession() {}

    /** Loads the library, plays a session of listeners.session; initializeImpl, devices, events received, uninitializeImpl. */
    public static int[] play(String library) throws Exception {
        System.load(library);
        final int[] outcome = new int[4];
        JogDialDriver jogDial = new JogDialDriver();
        jogDial.registerDialListenerImpl(new DialListener() {
            @Override
            public void onDialEvent(DialEvent event) {
                synchronized (outcome) {
                    ++outcome[2];
                }
            }
        });
        outcome[0] = jogDial.initializeImpl();
        outcome[1] = jogDial.getNumberOfDevicesImpl();
        Thread.sleep(2000);
        outcome[3] = jogDial.uninitializeImpl();
        synchronized (outcome) {
            return outcome.clone();
        }
    }
}
