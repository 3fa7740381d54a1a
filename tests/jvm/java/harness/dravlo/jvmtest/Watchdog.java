package dravlo.jvmtest;

/** Ends the whole run with a failure when a group hangs, e.g. on a deadlock, and shows where. */
final class Watchdog {
    private Watchdog() {}

    /** Starts a daemon that fails the run after `seconds` unless it is interrupted first. */
    static Thread start(String group, int seconds) {
        Thread watchdog = new Thread(() -> {
            try {
                Thread.sleep(seconds * 1000L);
            } catch (InterruptedException finished) {
                return;
            }
            System.out.println("FAILED: group " + group + " still running after " + seconds + " s");
            Thread.getAllStackTraces().forEach((thread, stack) -> {
                System.out.println(thread);
                for (StackTraceElement frame : stack) System.out.println("    at " + frame);
            });
            Runtime.getRuntime().halt(1);
        }, "watchdog " + group);
        watchdog.setDaemon(true);
        watchdog.start();
        return watchdog;
    }
}
