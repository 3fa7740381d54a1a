package dravlo.jvmtest;

import java.net.URL;
import java.net.URLClassLoader;

/**
 * The Java library on a class loader of the application's own, its classes invisible to the
 * system class loader (the class path of this run holds only the harness): the library loads,
 * initialises and tears down, the device's events are dropped, and nothing breaks.
 */
final class RealClassLoaderTests implements TestGroup {
    @Override
    public void run(Check check) throws Exception {
        // One jar of the Java library and IsolatedSession (Avian's URLClassLoader takes one jar).
        URL[] urls = {new URL("file:" + System.getProperty("dravlo.isolated.jar"))};
        check.isTrue("the event classes are not on the class path",
            ClassLoader.getSystemClassLoader().getResource("applet/utils/dravlo/DialEvent.class") == null);
        ClassLoader loader = new URLClassLoader(urls, RealClassLoaderTests.class.getClassLoader());
        Class<?> session = Class.forName("dravlo.jvmtest.isolated.IsolatedSession", true, loader);
        int[] outcome = (int[]) session.getMethod("play", String.class).invoke(null, RealJvm.LIBRARY);
        check.equal("initializeImpl through the application's loader", 0, outcome[0]);
        check.equal("jog dials", 1, outcome[1]);
        check.isTrue("the device fired events at the library (" + RealJvm.log("->1 sink").size() + ")",
            RealJvm.log("JogDialDevice#0.Fire:JogMove(0,1)->1 sink").size() == 20);
        check.equal("events that reached the listener", 0, outcome[2]);
        check.equal("uninitializeImpl", 0, outcome[3]);
    }
}
