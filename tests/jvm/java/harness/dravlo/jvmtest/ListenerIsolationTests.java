package dravlo.jvmtest;

import java.io.File;
import java.lang.ref.WeakReference;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * The event class cannot be found from the event thread: the contract lies only in an isolating
 * class loader, which a Java thread inside one of its natives searches and a native thread
 * attached to the VM does not. Runs without the contract on the class path; the property
 * dravlo.isolated.path names the isolated side and the contract.
 */
final class ListenerIsolationTests implements TestGroup {
    private static final String JOG = "7,1,0,1";

    @Override
    public void run(Check check) throws Exception {
        check.throwsExactly("the contract is not on the class path", ClassNotFoundException.class,
            "applet.utils.dravlo.DialEvent", () -> Class.forName("applet.utils.dravlo.DialEvent"));
        try (URLClassLoader loader = isolatingLoader()) {
            Class<?> side = loader.loadClass("dravlo.jvmtest.isolated.IsolatedSide");
            Listeners.linkIsolated(side);
            IsolatedWorld world = (IsolatedWorld) side.getDeclaredConstructor().newInstance();
            check.returnsNormally("binding from a native of the isolated side", world::bind);
            eventsThatCannotBeBuiltAreDropped(check, world);
        }
    }

    private static void eventsThatCannotBeBuiltAreDropped(Check check, IsolatedWorld world) throws Exception {
        List<Throwable> uncaught = new ArrayList<>();
        Thread.UncaughtExceptionHandler previous = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            synchronized (uncaught) {
                uncaught.add(thrown);
    }
});
Set<Thread> before = Thread.getAllStackTraces().keySet();
WeakReference<?> recorder;
try {
    recorder = world.registerRecorder();
    check.returnsNormally("forwarding on a native thread", () -> world.fireOnNativeThread(7, 0, 1, 1));
    check.equal("is dropped there", List.of(), world.received());
    world.fireHere(7, 0, 1, 1);
    check.equal("while the same event forwarded on the Java thread arrives", List.of(JOG), world.received());
    check.returnsNormally("again on a native thread", () -> world.fireOnNativeThread(8, -5, 0, 0));
    world.fireHere(8, -5, 0, 0);
    check.equal("dropped again; the Java thread still delivers", List.of(JOG, "8,0,-5,0"), world.received());
} finally {
    Thread.setDefaultUncaughtExceptionHandler(previous);
}
synchronized (uncaught) { check.equal("no Java error left pending on the event threads", List.of(), uncaught); }
Set<Thread> left = new HashSet<>(Thread.getAllStackTraces().keySet());
left.removeAll(before);
check.equal("event threads detached", Set.of(), left);
world.release();
check.isTrue("after release nothing holds the listener", Reachability.cleared(recorder));
}

private static URLClassLoader isolatingLoader() throws Exception {
    String path = System.getProperty("dravlo.isolated.path");
    if (path == null) throw new IllegalStateException("dravlo.isolated.path is not set");
    List<URL> urls = new ArrayList<>();
    for (String entry : path.split(File.pathSeparator)) urls.add(new File(entry).toURI().toURL());
    return new URLClassLoader(urls.toArray(new URL[0]), ListenerIsolationTests.class.getClassLoader());
}
}
