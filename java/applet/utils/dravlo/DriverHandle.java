package applet.utils.dravlo;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

/**
 * What {@link JogDial} and {@link KeyPad} share: the owner thread that makes a driver's native
 * calls, the handle's life from open to closed, and the listeners behind it.
 *
 * <p>Who calls what, enforced here: the owner thread alone registers the delivery, initialises,
 * counts, runs the queued commands and uninitialises, so the driver's COM apartment is the owner's
 * from start to end. The owner's uninitialise waits for the listener calls that are running, so no
 * thread inside a listener call, of either kind, ever waits for an owner thread: a close() there
 * refuses further deliveries and hands the teardown to the owner, and an open() there does not wait
 * for the owner of a handle still closing. Otherwise two listeners that close each other's handle
 * would each wait for an owner that waits for the other. Every mutable field is guarded by this
 * object's monitor.
 */
abstract class DriverHandle implements AutoCloseable {
    private static final int OPENING = 0;
    private static final int OPEN = 1;
    private static final int CLOSING = 2;
    private static final int CLOSED = 3;

    /** The COM texts, which alone would send a reader looking at the wrong thread. */
    private static final String[] COM_TEXTS = {"Faild to initialize COM context", "Failed to initialize COM context"};
    private static final String COM_HINT =
        " (already initialised on this thread, or a previous failure not cleaned up)";

    // How deep the calling thread is in listener calls of any handle, of either kind.
    private static final ThreadLocal<int[]> LISTENER_DEPTH = newDepth();

    /** A per-thread depth of listener calls, counted in place. */
    private static ThreadLocal<int[]> newDepth() {
        return new ThreadLocal<int[]>() {
            @Override
            protected int[] initialValue() {
                return new int[1];
            }
        };
    }

    /**
     * One wait() on `lock`, whose monitor the caller holds: true when an interrupt ended it. The
     * caller keeps the interrupt for its own caller instead of giving up the wait.
     */
    private static boolean interruptedWhileWaiting(Object lock) {
        try {
            lock.wait();
            return false;
        } catch (InterruptedException later) {
            return true;
        }
    }

    /** Whether the calling thread is inside a listener call of any handle. */
    static boolean inAnyListener() { return LISTENER_DEPTH.get()[0] > 0; }

    /**
     * One kind of driver. The native library holds one driver of each kind per process, so a kind
     * has at most one handle that is not yet closed. It also knows which threads are inside one of
     * its listener calls, and names them while they are.
     */
    static final class Kind {
        final String name;
        final String ownerName;
        final String eventsName;
        private final ThreadLocal<int[]> depth = newDepth();
        private DriverHandle latest; // guarded by this
        // An open() is under way: it may be waiting for an owner. Guarded by this, whose monitor
        // no one holds while waiting, so that a listener of either kind never blocks on it.
        private boolean opening;

        /**
         * @param name the handle's class name, for messages
         * @param threadName the owner thread's name; event threads get it with "-events" appended
         */
        Kind(String name, String threadName) {
            this.name = name;
            this.ownerName = threadName;
            this.eventsName = threadName + "-events";
        }

        /** Starts `handle`'s owner and waits until it has opened the driver or failed. */
        void open(DriverHandle handle) throws IOException {
            if (inListener()) {
                throw new IllegalStateException(name + ".open() from inside a " + name + " listener");
            }
            boolean fromListener = inAnyListener();
            DriverHandle last;
            synchronized (this) {
                // The other open() may be waiting for an owner whose last uninitialise waits for
                // this very listener call, of this kind or, through its listeners, the other.
                if (fromListener && opening) {
                    throw new IllegalStateException(
                        "another " + name + ".open() is under way; open() from inside a listener cannot wait for it");
                }
                boolean interrupted = false;
                while (opening) interrupted |= interruptedWhileWaiting(this);
                if (interrupted) Thread.currentThread().interrupt();
                last = latest;
                if (last != null) {
                    if (last.isOpen())
                        throw new IllegalStateException("a " + name + " is already open; close it first");
                    // A close from a listener returns before the owner's uninitialise; a new
                    // connection must not be made before it, or that uninitialise would tear it down.
                    // A listener may not wait for it (see the class comment).
                    if (fromListener && last.owner.isAlive()) {
                        throw new IllegalStateException(
                            "the last " + name + " is still closing; open() from inside a listener cannot wait for it");
                    }
                }
                opening = true;
            }
            try {
                if (last != null) last.awaitEnd();
                synchronized (this) { latest = handle; }
                handle.start();
            } finally {
                synchronized (this) {
                    opening = false;
                    notifyAll();
                }
            }
        }

        /** Whether the calling thread is inside a listener call of this kind. */
        boolean inListener() { return depth.get()[0] > 0; }

        /** A listener call begins on this thread: it is named for it; the name it had is returned. */
        String enter() {
            Thread thread = Thread.currentThread();
            String previous = thread.getName();
            if (depth.get()[0]++ == 0) thread.setName(eventsName);
            ++LISTENER_DEPTH.get()[0];
            return previous;
        }

        /** The listener call that `enter` began ends; the thread gets its name back when it had one. */
        void leave(String previous) {
            --LISTENER_DEPTH.get()[0];
            // A thread attached for this one event has no name on some JVMs (Avian): it keeps ours.
            if (--depth.get()[0] == 0 && previous != null) Thread.currentThread().setName(previous);
        }
    }

    private final Kind kind;
    /** The object registered with the native driver; it fans events out to the listeners. */
    final Delivery delivery;
    private final Thread owner;
    private final List<Runnable> commands = new ArrayList<Runnable>();
    private int state = OPENING;
    private boolean finishing; // the owner runs the commands queued, uninitialises and ends
    private Throwable failure;
    private String comReason; // why the failed initialisation failed, in COM's terms; may be null
    private int deviceCount;

    DriverHandle(Kind kind) {
        this.kind = kind;
        this.delivery = new Delivery(kind);
        this.owner = new Thread(new Runnable() {
            @Override
            public void run() {
                own();
            }
        }, kind.ownerName);
        // A forgotten close() must not keep the JVM alive. (A listener call running at exit
        // still holds it: the device's threads are attached as ordinary threads.)
        owner.setDaemon(true);
    }

    /** Registers `listener` for every kind of event the driver has. Owner thread only. */
    abstract void registerNative(Object listener) throws IOException;

    /** Owner thread only. */
    abstract void initializeNative() throws IOException;

    /** Owner thread only. */
    abstract int countNative();

    /** Owner thread only. */
    abstract void uninitializeNative();

    /**
     * The number of devices of this kind that the device driver reported when the handle was
     * opened. Only device 0 delivers events; a count of 0 means none will come.
     *
     * @return the count, 0 or more
     */
    public final synchronized int getDeviceCount() { return deviceCount; }

    /**
     * Whether the handle is open: true from {@code open()} until {@link #close()} begins.
     *
     * @return false once {@code close()} has been called, from any thread
     */
    public final synchronized boolean isOpen() { return state == OPEN; }

    /**
     * Adds a listener for the device's buttons, for the events from now on. Allowed from any thread,
     * a listener included.
     *
     * @param listener called once for every button pressed or released on device 0
     * @throws NullPointerException when {@code listener} is null
     * @throws IllegalStateException when the handle is closed
     */
    public final synchronized void addKeyListener(KeyListener listener) {
        requireOpen();
        delivery.addKeyListener(listener);
    }

    /**
     * Removes the last addition of {@code listener}; nothing when it was not added, or when the
     * handle is closed (a closed handle keeps no listener). A listener call already running may still
     * finish.
     *
     * @param listener a listener given to {@link #addKeyListener(KeyListener)}
     */
    public final void removeKeyListener(KeyListener listener) { delivery.removeKeyListener(listener); }

    /**
     * Chooses who receives what a listener throws. By default, and after {@code null}, that is the
     * uncaught exception handler of the event's thread, as for any thread that ends with an
     * exception (by default it prints the stack trace). Either way the event still goes to the other
     * listeners and later events still come. What the handler itself throws goes to the thread's
     * uncaught exception handler.
     *
     * @param handler receives the event's thread and the exception, on that thread; {@code null}
     *     restores the default
     * @throws IllegalStateException when the handle is closed
     */
    public final synchronized void setListenerExceptionHandler(Thread.UncaughtExceptionHandler handler) {
        requireOpen();
        delivery.setExceptionHandler(handler);
    }

    /**
     * Closes the driver: stops device 0, disconnects from the device driver and ends the owner
     * thread. Idempotent, and allowed from any thread, a listener of either kind included.
     *
     * <p>From a thread that is not inside a listener call, {@code close()} returns when everything
     * is closed: no listener call is running and none will start, the commands given before have
     * reached the device, the owner thread has ended and a new handle may be opened. It waits for
     * listener calls running on other threads, so call it from no thread that a listener waits for.
     *
     * <p>From inside a listener call, of this handle or of any other, it never waits: no listener of
     * this handle is called after it returns (a call already running may finish), and the owner
     * thread closes the device once the listener calls running have returned, and then ends. So
     * the listeners of a jog dial and a keypad may each close the other's handle.
     *
     * <p>A close while {@code open()} is still connecting (from a listener that the device called
     * during the connection) is kept: {@code open()} then returns the handle closed, and {@link
     * #isOpen()} is false.
     */
    @Override
    public final void close() {
        boolean fromListener = inAnyListener();
        synchronized (this) {
            if (state == OPENING || state == OPEN) {
                delivery.refuse();
                // While opening, the owner sees `finishing` once it has connected.
                if (state == OPEN) state = CLOSING;
                finish();
            }
        }
        if (!fromListener) awaitEnd();
    }

    /** Queues `command` for the owner thread, behind every earlier one. */
    final synchronized void submit(Runnable command) {
        requireOpen();
        commands.add(command);
        notifyAll();
    }

    /** The one rule of every method that adds to a handle: not once close() has begun. */
    final synchronized void requireOpen() {
        if (state == CLOSING || state == CLOSED || finishing) throw new IllegalStateException(kind.name + " is closed");
    }

    private void start() throws IOException {
        owner.start();
        Throwable failed;
        String reason;
        synchronized (this) {
            boolean interrupted = false;
            while (state == OPENING) interrupted |= interruptedWhileWaiting(this);
            if (interrupted) Thread.currentThread().interrupt();
            failed = failure;
            reason = comReason;
        }
        if (failed == null) return;
        awaitEnd();
        if (failed instanceof RuntimeException) throw(RuntimeException) failed;
        if (failed instanceof Error) throw(Error) failed;
        // The library's text stays the message; the cause says what COM answered, and only that.
        IOException thrown = new IOException(withHint(failed.getMessage()));
        if (reason != null) thrown.initCause(new IOException(reason + causeHint(reason)));
        throw thrown;
    }

    /** The owner thread's whole life. */
    private void own() {
        try {
            registerNative(delivery);
            initializeNative();
            opened(countNative(), null, null);
        } catch (Throwable failed) {
            // Asked at once, on this thread: the library keeps the reason per thread. The
            // uninitialise below undoes whatever the failed initialisation left.
            opened(0, failed, DravloLibrary.lastComFailureOrNull());
        }
        try {
            for (Runnable command = nextCommand(); command != null; command = nextCommand()) command.run();
        } finally {
            try {
                uninitializeNative();
            } finally {
                // The kind keeps this handle until the next open: it must not keep the listeners.
                delivery.clear();
                synchronized (this) {
                    state = CLOSED;
                    notifyAll();
                }
            }
        }
    }

    private synchronized void opened(int count, Throwable failed, String reason) {
        deviceCount = count;
        failure = failed;
        comReason = reason;
        // A close() while opening has set `finishing` already.
        if (failed != null) finishing = true;
        state = finishing ? CLOSING : OPEN;
        notifyAll();
    }

    private synchronized Runnable nextCommand() {
        // The owner thread ends only through close(): an interrupt is not obeyed.
        while (commands.isEmpty() && !finishing) interruptedWhileWaiting(this);
        return commands.isEmpty() ? null : commands.remove(0);
    }

    private void finish() {
        finishing = true;
        notifyAll();
    }

    /** Waits until the owner thread has ended; an interrupt is kept for the caller, not obeyed. */
    private void awaitEnd() {
        boolean interrupted = false;
        while (true) {
            try {
                owner.join();
                break;
            } catch (InterruptedException later) {
                interrupted = true;
            }
        }
        if (interrupted) Thread.currentThread().interrupt();
    }

    /** What to do about the COM reason, where the reason alone does not say it. */
    private static String causeHint(String reason) {
        if (reason.contains("0x80040154")) {
            return " (the Axis device driver is not installed, or it is installed for 32-bit programs only and this"
                + " JVM is 64-bit)";
        }
        return "";
    }

    private static String withHint(String text) {
        for (String com : COM_TEXTS) {
            if (com.equals(text)) return text + COM_HINT;
        }
        return text;
    }
}
