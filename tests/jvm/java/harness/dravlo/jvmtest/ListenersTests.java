package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.KeyEvent;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.ref.WeakReference;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * Java listeners fed by the test driver: what Java receives, which listener receives it, which
 * global references the holders keep, and what happens to Java exceptions the callbacks throw.
 * Runs with the counting contract, so events built but not delivered are seen too.
 */
final class ListenersTests implements TestGroup {
    /** What listeners received, kept apart from them so that they can become unreachable. */
    static final class Inbox {
        private final List<String> entries = new ArrayList<>();
        private final List<Thread> threads = new ArrayList<>();

        synchronized void add(String entry) {
            entries.add(entry);
            threads.add(Thread.currentThread());
        }

        synchronized List<String> entries() { return List.copyOf(entries); }

        synchronized List<Thread> threads() { return List.copyOf(threads); }
    }

    static String describe(DialEvent event) {
        if (event == null || event.getClass() != DialEvent.class) return "dial " + event;
        return "dial device=" + event.fDeviceID + " type=" + event.fEventType + " shuttle=" + event.fShuttleState
            + " jog=" + event.fJogDirection;
    }

    static String describe(KeyEvent event) {
        if (event == null || event.getClass() != KeyEvent.class) return "key " + event;
        return "key device=" + event.fDeviceID + " type=" + event.fEventType + " button=" + event.fButtonNumber;
    }

    /** A dial and key listener that files what it receives under its name. */
    static final class Recorder {
        private final Inbox inbox;
        private final String name;

        Recorder(Inbox inbox, String name) {
            this.inbox = inbox;
            this.name = name;
        }

        public void onDialEvent(DialEvent event) { inbox.add(name + " " + describe(event)); }

        public void onKeyEvent(KeyEvent event) { inbox.add(name + " " + describe(event)); }
    }

    /** Has onDialEvent only. */
    static final class DialOnly {
        public void onDialEvent(DialEvent event) {}
    }

    /** Files the event, then throws. */
    static final class Thrower {
        private final Inbox inbox;

        Thrower(Inbox inbox) { this.inbox = inbox; }

        public void onDialEvent(DialEvent event) {
            inbox.add("thrower " + describe(event));
            throw new IllegalStateException(THROWN);
        }
    }

    /** Registers `next` as the dial listener from inside its own callback. */
    static final class Replacer {
        private final Inbox inbox;
        private final Object next;

        Replacer(Inbox inbox, Object next) {
            this.inbox = inbox;
            this.next = next;
        }

        public void onDialEvent(DialEvent event) throws IOException {
            inbox.add("replacer " + describe(event));
            Listeners.registerDialListener(next);
        }
    }

    /** Releases every listener of the driver from inside its own callback. */
    static final class Releaser {
        private final Inbox inbox;

        Releaser(Inbox inbox) { this.inbox = inbox; }

        public void onDialEvent(DialEvent event) {
            inbox.add("releaser " + describe(event));
            Listeners.release();
        }
    }

    static final String THROWN = "listener failed on purpose";
    private static final String JOG = "dial device=7 type=1 shuttle=0 jog=1";

    private final List<Throwable> uncaught = new ArrayList<>();
    private Inbox inbox = new Inbox();

    @Override
    public void run(Check check) throws Exception {
        Thread watchdog = Watchdog.start("Listeners", 90);
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            synchronized (uncaught) {
                uncaught.add(thrown);
    }
});
try {
    Listeners.bind();
    fieldValuesArriveInJava(check);
    withoutListenerEventsAreBuiltAndDropped(check);
    aNewListenerReplacesAndReleasesTheEarlierOne(check);
    aFailedRegistrationKeepsTheEarlierListener(check);
    aNullListenerUnregisters(check);
    aThrowingCallbackIsLeftToTheDetach(check);
    anAttachedJavaThreadIsBorrowed(check);
    aThreadAttachedByTheApplicationStaysAttached(check);
    anEventThatCannotBeConstructedIsDropped(check);
    listenersMayRegisterAndReleaseFromTheirCallback(check);
} finally {
    Listeners.release();
    Thread.setDefaultUncaughtExceptionHandler(previous);
    watchdog.interrupt();
}
}

private void startTest() {
    Listeners.release();
    inbox = new Inbox();
    synchronized (uncaught) { uncaught.clear(); }
}

private List<Throwable> uncaught() {
    synchronized (uncaught) { return List.copyOf(uncaught); }
}

private WeakReference<Recorder> registerDialRecorder(String name) throws IOException {
    Recorder recorder = new Recorder(inbox, name);
    Listeners.registerDialListener(recorder);
    return new WeakReference<>(recorder);
}

private WeakReference<Recorder> registerKeyRecorder(String name) throws IOException {
    Recorder recorder = new Recorder(inbox, name);
    Listeners.registerKeyListener(recorder);
    return new WeakReference<>(recorder);
}

private void fieldValuesArriveInJava(Check check) throws Exception {
    startTest();
    registerDialRecorder("d");
    registerKeyRecorder("k");
    Listeners.fireDial(7, 0, 1, 1); // counter-clockwise jog
    Listeners.fireDial(8, -5, 0, 0); // shuttle at -5
    Listeners.fireKey(3, 12, 0); // button 12 down ...
    Listeners.fireKey(3, 12, 1); // ... and up
    check.equal("events in Java",
        List.of("d " + JOG, "d dial device=8 type=0 shuttle=-5 jog=0", "k key device=3 type=0 button=12",
            "k key device=3 type=1 button=12"),
        inbox.entries());
    check.isTrue("delivered on the event threads",
        inbox.threads().stream().noneMatch(thread -> thread == Thread.currentThread()));
    check.equal("event threads detached", 0L, inbox.threads().stream().filter(Thread::isAlive).count());
}

private void withoutListenerEventsAreBuiltAndDropped(Check check) throws Exception {
    startTest();
    WeakReference<Recorder> earlier = registerDialRecorder("released");
    Listeners.release();
    long dial = Census.dialEvents();
    long key = Census.keyEvents();
    Listeners.fireDial(7, 0, 1, 1);
    Listeners.fireKey(3, 12, 0);
    check.equal("dial events built", dial + 1, Census.dialEvents());
    check.equal("key events built", key + 1, Census.keyEvents());
    check.equal("nothing called", List.of(), inbox.entries());
    check.equal("nothing thrown", List.of(), uncaught());
    check.isTrue("holders empty", !Listeners.dialRegistered() && !Listeners.keyRegistered());
    check.isTrue("the released listener is not held", Reachability.cleared(earlier));
    check.equal("every event reclaimed", 0L, Census.awaitAllReclaimed(10_000));
}

private void aNewListenerReplacesAndReleasesTheEarlierOne(Check check) throws Exception {
    startTest();
    WeakReference<Recorder> first = registerDialRecorder("first");
    check.isTrue("a registered listener is held by the holder alone", Reachability.survives(first));
    Listeners.fireDial(7, 0, 1, 1);
    WeakReference<Recorder> second = registerDialRecorder("second");
    Listeners.fireDial(7, 0, 1, 1);
    Listeners.fireDial(8, -5, 0, 0);
    check.equal("the first before, the second after",
        List.of("first " + JOG, "second " + JOG, "second dial device=8 type=0 shuttle=-5 jog=0"), inbox.entries());
    check.isTrue("the replaced listener is released", Reachability.cleared(first));
    check.isTrue("the new one is held", Reachability.survives(second));
}

private void aFailedRegistrationKeepsTheEarlierListener(Check check) throws Exception {
    startTest();
    registerKeyRecorder("earlier");
    List<WeakReference<DialOnly>> rejected = new ArrayList<>();
    String message = Wording.memberNotFoundOnObject("onKeyEvent");
    check.throwsIOException("a listener without onKeyEvent", message, () -> {
        DialOnly wrong = new DialOnly();
        rejected.add(new WeakReference<>(wrong));
        Listeners.registerKeyListener(wrong);
    });
    check.equal("the literal message", "onKeyEvent not found in ...", message);
    Listeners.fireKey(3, 12, 0);
    check.equal(
        "the earlier listener still receives", List.of("earlier key device=3 type=0 button=12"), inbox.entries());
    check.isTrue("the rejected listener is not held", Reachability.cleared(rejected.get(0)));

    Listeners.release();
    check.throwsIOException(
        "the same on an empty holder", message, () -> Listeners.registerKeyListener(new DialOnly()));
    check.isTrue("which stays empty", !Listeners.keyRegistered());
}

private void aNullListenerUnregisters(Check check) throws Exception {
    startTest();
    WeakReference<Recorder> earlier = registerDialRecorder("earlier");
    check.returnsNormally("registering null", () -> Listeners.registerDialListener(null));
    check.isTrue("the holder is empty", !Listeners.dialRegistered());
    check.isTrue("the earlier listener is released", Reachability.cleared(earlier));
    long built = Census.dialEvents();
    Listeners.fireDial(7, 0, 1, 1);
    check.equal("the event is built", built + 1, Census.dialEvents());
    check.equal("and dropped", List.of(), inbox.entries());
    check.returnsNormally("null on an empty holder", () -> Listeners.registerDialListener(null));
}

private void aThrowingCallbackIsLeftToTheDetach(Check check) throws Exception {
    startTest();
    Listeners.registerDialListener(new Thrower(inbox));
    check.returnsNormally("forwarding over a throwing callback", () -> Listeners.fireDial(7, 0, 1, 1));
    List<Throwable> thrown = uncaught();
    check.equal("the exception reaches the uncaught handler at detach", 1, thrown.size());
    check.isTrue("and is the listener's", thrown.size() == 1 && THROWN.equals(thrown.get(0).getMessage()));
    check.equal("the thread is detached", 0L, inbox.threads().stream().filter(Thread::isAlive).count());
    registerDialRecorder("next");
    Listeners.fireDial(7, 0, 1, 1);
    check.equal("the next event is delivered", List.of("thrower " + JOG, "next " + JOG), inbox.entries());
}

private void anAttachedJavaThreadIsBorrowed(Check check) throws Exception {
    startTest();
    registerDialRecorder("here");
    Listeners.fireDialHere(7, 0, 1, 1);
    check.equal("delivered", List.of("here " + JOG), inbox.entries());
    check.equal("on the calling thread", List.of(Thread.currentThread()), inbox.threads());

    Listeners.registerDialListener(new Thrower(inbox));
    Throwable[] escaped = new Throwable[1];
    String described = standardError(() -> {
        try {
            Listeners.fireDialHere(7, 0, 1, 1);
        } catch (Throwable thrown) {
            escaped[0] = thrown;
        }
    });
    check.isTrue("the listener's exception is described", described.contains(THROWN));
    check.equal("and cleared before returning to Java", null, escaped[0]);
}

private void aThreadAttachedByTheApplicationStaysAttached(Check check) throws Exception {
    startTest();
    registerDialRecorder("own");
    check.equal("still attached, nothing pending", Listeners.STILL_ATTACHED,
        Listeners.fireDialOnSelfAttachedThread(7, 0, 1, 1));
    check.equal("delivered", List.of("own " + JOG), inbox.entries());

    Listeners.registerDialListener(new Thrower(inbox));
    int[] status = new int[1];
    String described = standardError(() -> status[0] = Listeners.fireDialOnSelfAttachedThread(7, 0, 1, 1));
    check.equal("after a throwing callback: still attached, nothing pending", Listeners.STILL_ATTACHED, status[0]);
    check.isTrue("the listener's exception is described", described.contains(THROWN));
    check.equal("nothing left for the application's detach", List.of(), uncaught());
}

private void anEventThatCannotBeConstructedIsDropped(Check check) throws Exception {
    startTest();
    registerDialRecorder("r");
    registerKeyRecorder("r");
    String refused = "event construction refused on purpose";
    Throwable[] escaped = new Throwable[1];
    Set<Thread> before = Thread.getAllStackTraces().keySet();
    Census.refuseConstruction(refused);
    String described;
    try {
        described = standardError(() -> {
            Listeners.fireDial(7, 0, 1, 1);
            Listeners.fireKey(3, 12, 0);
            try {
                Listeners.fireDialHere(7, 0, 1, 1);
            } catch (Throwable thrown) {
                escaped[0] = thrown;
            }
        });
    } finally {
        Census.refuseConstruction(null);
    }
    check.equal("nothing delivered", List.of(), inbox.entries());
    check.isTrue("the constructor's exception is described", described.contains(refused));
    check.equal("nothing left pending on the event threads", List.of(), uncaught());
    check.equal("nor on the Java thread", null, escaped[0]);
    Set<Thread> left = new HashSet<>(Thread.getAllStackTraces().keySet());
    left.removeAll(before);
    check.equal("event threads detached", Set.of(), left);
    Listeners.fireDial(7, 0, 1, 1);
    check.equal("the next event is delivered", List.of("r " + JOG), inbox.entries());
}

private void listenersMayRegisterAndReleaseFromTheirCallback(Check check) throws Exception {
    startTest();
    Releaser releaser = new Releaser(inbox);
    Listeners.registerDialListener(new Replacer(inbox, releaser));
    Listeners.fireDial(7, 0, 1, 1); // the replacer hands over to the releaser
    Listeners.fireDial(8, -5, 0, 0); // the releaser releases itself
    Listeners.fireDial(7, 0, 1, 1); // nobody is left
    check.equal("each callback ran once, in turn",
        List.of("replacer " + JOG, "releaser dial device=8 type=0 shuttle=-5 jog=0"), inbox.entries());
    check.isTrue("the holder is empty", !Listeners.dialRegistered());

    Listeners.registerDialListener(new Replacer(inbox, new Recorder(inbox, "after")));
    Listeners.fireDialHere(7, 0, 1, 1); // the same on a borrowed Java thread
    Listeners.fireDialHere(7, 0, 1, 1);
    check.equal("on the calling thread too", List.of("replacer " + JOG, "after " + JOG),
        inbox.entries().subList(2, inbox.entries().size()));
    check.equal("nothing thrown", List.of(), uncaught());
}

/** What `body` wrote to System.err (where ExceptionDescribe prints). */
private static String standardError(Check.Body body) throws Exception {
    ByteArrayOutputStream buffer = new ByteArrayOutputStream();
    PrintStream previous = System.err;
    System.setErr(new PrintStream(buffer, true, StandardCharsets.UTF_8));
    try {
        body.run();
    } catch (Throwable thrown) {
        throw new AssertionError("the body threw", thrown);
    } finally {
        System.setErr(previous);
    }
    return buffer.toString(StandardCharsets.UTF_8);
}
}
