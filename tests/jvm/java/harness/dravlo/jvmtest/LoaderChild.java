package dravlo.jvmtest;

import applet.utils.dravlo.DravloLibrary;

/**
 * One JVM's use of the loader, run as a process of its own by LoaderTests: prints which copy of the
 * library it loaded and from where, or the loader's error on one line. With {@code
 * -Ddravlo.loader.implicit=true} it never calls load(): it only initialises a driver class; with
 * {@code -Ddravlo.loader.versionOnly=true} it prints only the version the classes state.
 */
final class LoaderChild {
    private static native String origin();

    public static void main(String[] args) throws ClassNotFoundException {
        if (Boolean.getBoolean("dravlo.loader.versionOnly")) {
            System.out.println("version=" + DravloLibrary.version());
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
