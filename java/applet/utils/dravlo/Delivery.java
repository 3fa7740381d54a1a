package applet.utils.dravlo;

import java.util.Arrays;

/**
 * The one listener object a handle registers with its native driver: it hands every event to the
 * handle's listeners in the order they were added, each in a try block, so that one listener's
 * exception reaches the chosen handler and neither the other listeners nor the native library.
 *
 * <p>Threads: events arrive on the device's threads, several at once if the device driver calls so;
 * they read the listener arrays without a lock, since every change installs a new array. Changes
 * come from any thread and are serialised by this object's monitor.
 */
final class Delivery implements DialListener, KeyListener {
    private final DriverHandle.Kind kind;
    private volatile DialListener[] dialListeners = new DialListener[0];
    private volatile KeyListener[] keyListeners = new KeyListener[0];
    private volatile Thread.UncaughtExceptionHandler exceptionHandler;
    // Set by close(): no listener call starts after it. Read before each call, without a lock, so
    // that a close from a listener never waits for a delivery on another thread.
    private volatile boolean refused;

    Delivery(DriverHandle.Kind kind) { this.kind = kind; }

    synchronized void addDialListener(DialListener listener) { dialListeners = plus(dialListeners, listener); }

    synchronized void removeDialListener(DialListener listener) { dialListeners = minus(dialListeners, listener); }

    synchronized void addKeyListener(KeyListener listener) { keyListeners = plus(keyListeners, listener); }

    synchronized void removeKeyListener(KeyListener listener) { keyListeners = minus(keyListeners, listener); }

    void setExceptionHandler(Thread.UncaughtExceptionHandler handler) { exceptionHandler = handler; }

    /** From now on no listener is called; a call already running may finish. */
    void refuse() { refused = true; }

    /** Lets go of every listener and the handler, once no event can come any more. */
    synchronized void clear() {
        dialListeners = new DialListener[0];
        keyListeners = new KeyListener[0];
        exceptionHandler = null;
    }

    @Override
    public void onDialEvent(DialEvent event) {
        String previousName = kind.enter();
        try {
            for (DialListener listener : dialListeners) {
                if (refused) break;
                try {
                    listener.onDialEvent(event);
                } catch (Throwable thrown) {
                    report(thrown);
                }
            }
        } finally {
            kind.leave(previousName);
        }
    }

    @Override
    public void onKeyEvent(KeyEvent event) {
        String previousName = kind.enter();
        try {
            for (KeyListener listener : keyListeners) {
                if (refused) break;
                try {
                    listener.onKeyEvent(event);
                } catch (Throwable thrown) {
                    report(thrown);
                }
            }
        } finally {
            kind.leave(previousName);
        }
    }

    private void report(Throwable thrown) {
        Thread thread = Thread.currentThread();
        Thread.UncaughtExceptionHandler chosen = exceptionHandler;
        if (chosen != null) {
            try {
                chosen.uncaughtException(thread, thrown);
                return;
            } catch (Throwable handlerFailed) {
                thrown = handlerFailed;
            }
        }
        Thread.UncaughtExceptionHandler own = thread.getUncaughtExceptionHandler();
        if (own != null) {
            own.uncaughtException(thread, thrown);
        } else {
            thrown.printStackTrace();
        }
    }

    private static <T> T[] plus(T[] listeners, T listener) {
        if (listener == null) throw new NullPointerException("listener");
        T[] more = Arrays.copyOf(listeners, listeners.length + 1);
        more[listeners.length] = listener;
        return more;
    }

    private static <T> T[] minus(T[] listeners, Object listener) {
        for (int i = listeners.length - 1; i >= 0; --i) {
            if (listeners[i] == listener) {
                T[] fewer = Arrays.copyOf(listeners, listeners.length - 1);
                System.arraycopy(listeners, i + 1, fewer, i, fewer.length - i);
                return fewer;
            }
        }
        return listeners;
    }
}
