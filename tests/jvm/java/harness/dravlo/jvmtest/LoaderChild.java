package dravlo.jvmtest;

import applet.utils.dravlo.DravloLibrary;
import java.io.File;
import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.Collections;
import java.util.TreeMap;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

/**
 * One JVM's use of the loader, run as a process of its own by LoaderTests: prints which copy of the
 * library it loaded and from where, or the loader's error on one line. With {@code
 * -Ddravlo.loader.implicit=true} it never calls load(): it only initialises a driver class; with
 * {@code -Ddravlo.loader.versionOnly=true} it prints only the version the classes state; with
 * {@code -Ddravlo.loader.twoLoaders=<jar>} it loads the library in two class loaders of its own
 * over that jar and prints what each met; with {@code -Ddravlo.loader.atOnce=<classes>}, in four
 * at once, and prints how many met what.
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
            ExecutorService loaders = Executors.newFixedThreadPool(4);
            TreeMap<String, Integer> met = new TreeMap<>();
            for (Future<String> load : loaders.invokeAll(Collections.<Callable<String>>nCopies(4, () -> loadIn(classes))))
                met.merge(load.get().replace('\n', '|'), 1, Integer::sum);
            loaders.shutdown();
            System.out.println(met);
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
