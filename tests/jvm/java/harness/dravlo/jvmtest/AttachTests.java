package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/** Native threads attached and detached through JavaVmBinding, one pair per forwarded event. */
final class AttachTests implements TestGroup {
    /** Records every callback and the thread it came on. */
    static final class RecordingListener {
        final List<Thread> threads = new ArrayList<>();
        int wrongEvents;

        public synchronized void onDialEvent(DialEvent event) {
            if (event == null || event.getClass() != DialEvent.class) ++wrongEvents;
            threads.add(Thread.currentThread());
        }
    }

    static final class ThrowingListener {
        public void onDialEvent(DialEvent event) { throw new IllegalStateException("listener failed"); }
    }

    @Override
    public void run(Check check) throws Exception {
        check.isTrue("an unbound binding does not attach", Attachments.attachUnboundYieldsNull());
        eventsArriveOnAttachedNativeThreads(check);
        aThrowingCallbackIsLeftToTheUncaughtHandler(check);
        eventsArriveOnAttachedNativeThreads(check);
    }

    private static void eventsArriveOnAttachedNativeThreads(Check check) throws Exception {
        final int threads = 4;
        final int rounds = 250;
        Set<Thread> before = Thread.getAllStackTraces().keySet();
        RecordingListener listener = new RecordingListener();
        int attached = Attachments.forwardFromNativeThreads(listener, threads, rounds);
        check.equal("successful attaches", threads * rounds, attached);
        check.equal("callbacks", threads * rounds, listener.threads.size());
        check.equal("callbacks with a wrong event", 0, listener.wrongEvents);
        Set<Thread> distinct = new HashSet<>(listener.threads);
        check.equal("one Java thread per attachment", threads * rounds, distinct.size());
        check.isTrue("never on the calling thread", !distinct.contains(Thread.currentThread()));
        long alive = distinct.stream().filter(Thread::isAlive).count();
        check.equal("attached threads still alive after detach", 0L, alive);
        long daemons = distinct.stream().filter(Thread::isDaemon).count();
        check.equal("daemon attachments", 0L, daemons);
        Set<Thread> left = new HashSet<>(Thread.getAllStackTraces().keySet());
        left.removeAll(before);
        check.equal("threads left behind", Set.of(), left);
    }

    private static void aThrowingCallbackIsLeftToTheUncaughtHandler(Check check) throws Exception {
        List<Throwable> uncaught = new ArrayList<>();
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            synchronized (uncaught) {
                uncaught.add(thrown);
    }
});
try {
    int attached = Attachments.forwardFromNativeThreads(new ThrowingListener(), 2, 3);
    check.equal("attaches despite throwing callbacks", 6, attached);
} finally {
    Thread.setDefaultUncaughtExceptionHandler(previous);
}
check.equal("exceptions handed to the uncaught handler at detach", 6, uncaught.size());
check.isTrue("each is the listener's",
    uncaught.stream().allMatch(t -> t instanceof IllegalStateException && "listener failed".equals(t.getMessage())));
}
}
