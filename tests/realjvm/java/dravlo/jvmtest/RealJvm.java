package dravlo.jvmtest;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DialListener;
import applet.utils.dravlo.JogDialDriver;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPadDriver;
import java.io.BufferedReader;
import java.io.FileReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Runs one group of checks ({@code Session} runs {@code RealSessionTests}) on a real JVM against the
 * Dravlo.dll that the prefix has registered, with the simulated Axis driver playing the group's
 * session. Properties: {@code dravlo.library.path} (the DLL's full path, which the loader takes too;
 * without it the loader finds the DLL by name, in the current folder), {@code dravlo.log} (the
 * simulator's log). A passing run returns from main, so the JVM's own shutdown is part of the test.
 */
public final class RealJvm {
    static final String LIBRARY = System.getProperty("dravlo.library.path");
    static final String LOG = System.getProperty("dravlo.log");

    /** Something awaited by polling. */
    interface Condition {
        boolean holds();
    }

    /** Code run on a thread of its own that may throw anything. */
    interface Body {
        void run() throws Throwable;
    }

    public static void main(String[] args) throws Exception {
        String group = args[0];
        Thread watchdog = watchdog(group, 100);
        Check check = new Check();
        try {
            TestGroup tests = (TestGroup) Class.forName("dravlo.jvmtest.Real" + group + "Tests").newInstance();
            tests.run(check);
        } catch (Throwable thrown) {
            check.unexpected("group " + group, thrown);
        }
        watchdog.interrupt();
        System.out.println("realjvm " + group + ": " + check.passed() + " passed, " + check.failed() + " failed");
        if (check.failed() != 0 || check.passed() == 0) System.exit(1);
    }

    /** Fails the run when the group hangs, e.g. on a deadlock (Avian has no stack dump of all threads). */
    private static Thread watchdog(final String group, final int seconds) {
        Thread watchdog = new Thread(new Runnable() {
            @Override
            public void run() {
                try {
                    Thread.sleep(seconds * 1000L);
                } catch (InterruptedException finished) {
                    return;
                }
                System.out.println("FAILED: group " + group + " still running after " + seconds + " s");
                System.exit(1);
            }
        }, "watchdog " + group);
        watchdog.setDaemon(true);
        watchdog.start();
        return watchdog;
    }

    /** Elements `from` to `to` of `list` (Avian's lists have no subList). */
    static <T> List<T> slice(List<T> list, int from, int to) {
        List<T> slice = new ArrayList<>();
        for (int i = Math.min(from, list.size()); i < Math.min(to, list.size()); ++i) slice.add(list.get(i));
        return slice;
    }

    /** Polls `condition` for up to `millis`; whether it came to hold. */
    static boolean await(long millis, Condition condition) throws InterruptedException {
        long end = System.currentTimeMillis() + millis;
        while (!condition.holds()) {
            if (System.currentTimeMillis() > end) return false;
            Thread.sleep(5);
        }
        return true;
    }

    /** Starts `body` on a new thread; what it throws goes to `check` as unexpected. */
    static Thread start(final Check check, final String name, final Body body) {
        Thread thread = new Thread(new Runnable() {
            @Override
            public void run() {
                try {
                    body.run();
                } catch (Throwable thrown) {
                    synchronized (check) {
                        check.unexpected(name, thrown);
                    }
                }
            }
        }, name);
        thread.start();
        return thread;
    }

    /** The simulator's log entries containing `part`, without time, process, thread and step. */
    static List<String> log(String part) throws IOException {
        List<String> entries = new ArrayList<>();
        try (BufferedReader reader = new BufferedReader(new FileReader(LOG))) {
            for (String line = reader.readLine(); line != null; line = reader.readLine()) {
                String entry = line.substring(line.indexOf(' ', line.indexOf(" step=") + 1) + 1);
                if (entry.contains(part)) entries.add(entry);
            }
        }
        return entries;
    }

    /** One driver as the tables drive it: registering a listener for all its events, and its lifecycle. */
    interface Driver {
        void register(Object listener) throws IOException;

        int initialize() throws IOException;

        int uninitialize();
    }

    static Driver jogDial() {
        final JogDialDriver driver = new JogDialDriver();
        return new Driver() {
            @Override
            public void register(Object listener) throws IOException {
                driver.registerDialListenerImpl(listener);
                driver.registerKeyListenerImpl(listener);
            }

            @Override
            public int initialize() throws IOException { return driver.initializeImpl(); }

            @Override
            public int uninitialize() { return driver.uninitializeImpl(); }
        };
    }

    static Driver keyPad(final KeyPadDriver driver) {
        return new Driver() {
            @Override
            public void register(Object listener) throws IOException { driver.registerKeyListenerImpl(listener); }

            @Override
            public int initialize() throws IOException { return driver.initializeImpl(); }

            @Override
            public int uninitialize() { return driver.uninitializeImpl(); }
        };
    }

    /** Records every event as its text, with the thread it arrived on. */
    static class Recorder implements DialListener, KeyListener {
        private final List<String> events = new ArrayList<>();
        private final List<Thread> threads = new ArrayList<>();

        @Override
        public void onDialEvent(DialEvent event) {
            add(event.toString());
        }

        @Override
        public void onKeyEvent(KeyEvent event) {
            add(event.toString());
        }

        synchronized void add(String event) {
            events.add(event);
            threads.add(Thread.currentThread());
        }

        synchronized int count() { return events.size(); }

        synchronized List<String> events() { return new ArrayList<>(events); }

        synchronized List<Thread> threads() { return new ArrayList<>(threads); }
    }

    /**
     * The jar's monitor, {@code java -jar} on this JVM (properties {@code dravlo.avian}, {@code
     * dravlo.jar}) in a process of its own in the current folder; with a session, through cmd.exe,
     * which sets AXIS_SIMULATOR_SESSION for it (Avian starts processes with the caller's environment).
     * Collects the lines of standard output and standard error as they come.
     */
    static final class MonitorRun {
        private final Process process;
        private final List<String> out = new ArrayList<>();
        private final List<String> err = new ArrayList<>();
        private final Thread[] readers;

        MonitorRun(String session, String... args) throws IOException {
            List<String> command = new ArrayList<>();
            if (session != null)
                command.addAll(Arrays.asList("cmd.exe", "/c", "set", "AXIS_SIMULATOR_SESSION=" + session, "&&"));
            command.addAll(Arrays.asList(System.getProperty("dravlo.avian"), "-jar", System.getProperty("dravlo.jar")));
            command.addAll(Arrays.asList(args));
            process = Runtime.getRuntime().exec(command.toArray(new String[0]));
            readers = new Thread[] {reader(process.getInputStream(), out), reader(process.getErrorStream(), err)};
        }

        private static Thread reader(final InputStream stream, final List<String> lines) {
            Thread reader = new Thread(() -> {
                try (BufferedReader in = new BufferedReader(new InputStreamReader(stream))) {
                    // Avian's readLine ends a line at \r and again at \n.
                    for (String line = in.readLine(); line != null; line = in.readLine()) {
                        if (line.isEmpty()) continue;
                        synchronized (lines) {
                            lines.add(line);
                        }
                    }
                } catch (IOException ended) {
                    // The process is gone.
                }
            });
            reader.setDaemon(true);
            reader.start();
            return reader;
        }

        List<String> out() {
            synchronized (out) {
                return new ArrayList<>(out);
            }
        }

        List<String> err() {
            synchronized (err) {
                return new ArrayList<>(err);
            }
        }

        /** Presses Enter once `condition` holds, or after `millis` anyway; whether it held. */
        boolean enterWhen(long millis, Condition condition) throws IOException, InterruptedException {
            boolean held = await(millis, condition);
            OutputStream in = process.getOutputStream();
            in.write('\n');
            in.flush();
            return held;
        }

        /** The exit status once both streams ended within `millis`; -1 (and the process killed) if not. */
        int end(long millis) throws InterruptedException {
            long deadline = System.currentTimeMillis() + millis;
            for (Thread reader : readers) reader.join(Math.max(1, deadline - System.currentTimeMillis()));
            if (readers[0].isAlive() || readers[1].isAlive()) {
                process.destroy();
                return -1;
            }
            return process.waitFor();
        }
    }

    static String dial(int type, int shuttle, int direction) {
        return "DialEvent[device=0, type=" + type + ", shuttle=" + shuttle + ", jogDirection=" + direction + "]";
    }

    static String key(int type, int button) { return "KeyEvent[device=0, type=" + type + ", button=" + button + "]"; }

    private RealJvm() {}
}
