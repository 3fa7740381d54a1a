package dravlo.jvmtest;

import applet.utils.dravlo.DravloLibrary;
import java.io.File;
import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * One JVM's use of the loader, run as a process of its own by LoaderTests: prints which copy of the
 * library it loaded and from where, or the loader's error on one line. With {@code
 * -Ddravlo.loader.implicit=true} it never calls load(): it only initialises a driver class; with
 * {@code -Ddravlo.loader.versionOnly=true} it prints only the version the classes state; with
 * {@code -Ddravlo.loader.twoLoaders=<jar>} it loads the library in two class loaders of its own
 * over that jar and prints what each met; with {@code -Ddravlo.loader.atOnce=<classes>}, in four
 * at once, and prints how many loaded it, how many were refused as a second class loader, and
 * what else any met.
 */
final class LoaderChild {
    private static native String origin();

    /** DravloLibrary.load() in a class loader of its own over `jar`: "loaded" or the error. */
    private static String loadIn(String jar) throws Exception {
        ClassLoader own = new URLClassLoader(new URL[] {new File(jar).toURI().toURL()}, null);
        try {
            Class.forName("applet.utils.dravlo.DravloLibrary", true, own).getMethod("load").invoke(null);
            return "loaded";
        } catch (InvocationTargetException thrown) {
            return thrown.getCause().getMessage();
        }
    }

    public static void main(String[] args) throws Exception {
        if (Boolean.getBoolean("dravlo.loader.versionOnly")) {
            System.out.println("version=" + DravloLibrary.version());
            return;
        }
        String classes = System.getProperty("dravlo.loader.atOnce");
        if (classes != null) {
            CountDownLatch go = new CountDownLatch(1);
            AtomicInteger loaded = new AtomicInteger();
            AtomicInteger refused = new AtomicInteger();
            StringBuffer other = new StringBuffer();
            Thread[] loaders = new Thread[4];
            for (int i = 0; i < loaders.length; ++i) {
                loaders[i] = new Thread(() -> {
                    try {
                        go.await();
                        String outcome = loadIn(classes);
                        if (outcome.equals("loaded")) {
                            loaded.incrementAndGet();
                        } else if (outcome.contains(" is loaded already by another class loader of this JVM")) {
                            refused.incrementAndGet();
                        } else {
                            other.append(" other=").append(outcome.replace('\n', '|'));
                        }
                    } catch (Exception unexpected) {
                        throw new IllegalStateException(unexpected);
                    }
                });
                loaders[i].start();
            }
            go.countDown();
            for (Thread loader : loaders) loader.join();
            System.out.println("loaded=" + loaded + " refused=" + refused + other);
            return;
        }
        String jar = System.getProperty("dravlo.loader.twoLoaders");
        if (jar != null) {
            System.out.println("first=" + loadIn(jar) + " second=" + loadIn(jar));
            return;
        }
        try {
            if (Boolean.getBoolean("dravlo.loader.implicit")) {
                Class.forName("applet.utils.dravlo.JogDialDriver");
            } else {
                DravloLibrary.load();
            }
            System.out.println("origin=" + origin() + " from=" + DravloLibrary.loadedFrom());
        } catch (UnsatisfiedLinkError failed) {
            System.out.println("error=" + failed.getMessage().replace('\n', '|'));
        }
    }
}
