package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DialListener;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPadDriver;
import java.util.ArrayList;
import java.util.List;

/**
 * Listeners that misbehave, on sessions/listeners.session (20 events of each kind per Start): one
 * that throws from every callback, and one that calls uninitializeImpl from its own callback.
 */
final class RealListenersTests implements TestGroup {
    private static final int EVENTS = 20;

    /** Throws from every callback, after counting it. */
    static final class Throwing implements DialListener, KeyListener {
        int calls;

        @Override
        public synchronized void onDialEvent(DialEvent event) {
            ++calls;
            throw new IllegalStateException("listener failed");
        }

        @Override
        public synchronized void onKeyEvent(KeyEvent event) {
            ++calls;
            throw new IllegalStateException("listener failed");
        }
    }

    /** Uninitialises its driver from inside its third callback. */
    static final class Closing implements DialListener, KeyListener {
        final RealJvm.Driver driver;
        int calls;
        int uninitializeResult = -1;

        Closing(RealJvm.Driver driver) { this.driver = driver; }

        @Override
        public void onDialEvent(DialEvent event) { called(); }

        @Override
        public void onKeyEvent(KeyEvent event) { called(); }

        synchronized void called() {
            if (++calls == 3) uninitializeResult = driver.uninitialize();
        }

        synchronized int calls() { return calls; }
    }

    @Override
    public void run(Check check) throws Exception {
        System.load(RealJvm.LIBRARY);
        Object[][] drivers = {{"jog dial", RealJvm.jogDial()}, {"keypad", RealJvm.keyPad(new KeyPadDriver())}};
        for (Object[] row : drivers) {
            String name = (String) row[0];
            RealJvm.Driver driver = (RealJvm.Driver) row[1];
            throwingListener(check, name, driver);
            listenerUninitialising(check, name, driver);
        }
    }

    private static void throwingListener(Check check, String name, RealJvm.Driver driver) throws Exception {
        final List<Throwable> uncaught = new ArrayList<>();
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            synchronized (uncaught) {
                uncaught.add(thrown);
            }
        });
        final Throwing listener = new Throwing();
        try {
            driver.register(listener);
            check.equal(name + ": initializeImpl", 0, driver.initialize());
            check.isTrue(name + ": every event reaches the throwing listener", RealJvm.await(20000, () -> {
                synchronized (listener) {
                    return listener.calls == EVENTS;
                }
            }));
            check.equal(name + ": uninitializeImpl", 0, driver.uninitialize());
        } finally {
            Thread.setDefaultUncaughtExceptionHandler(previous);
        }
        synchronized (uncaught) {
            check.equal(name + ": each exception handed to the uncaught handler", EVENTS, uncaught.size());
            boolean theListeners = true;
            for (Throwable thrown : uncaught)
                theListeners &= thrown instanceof IllegalStateException && "listener failed".equals(thrown.getMessage());
            check.isTrue(name + ": and each is the listener's", theListeners);
        }
    }

    private static void listenerUninitialising(Check check, String name, RealJvm.Driver driver) throws Exception {
        final Closing listener = new Closing(driver);
        driver.register(listener);
        check.equal(name + ": initializeImpl again", 0, driver.initialize());
        check.isTrue(name + ": the listener's third callback", RealJvm.await(20000, () -> listener.calls() >= 3));
        Thread.sleep(500);
        check.equal(name + ": uninitializeImpl from the callback", 0, listener.uninitializeResult);
        check.equal(name + ": no callback after it", 3, listener.calls());
        check.equal(name + ": uninitializeImpl on the initialising thread afterwards", 0, driver.uninitialize());
    }
}
