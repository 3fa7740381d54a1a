package applet.utils.dravlo.monitor;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DravloLibrary;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.util.ArrayList;
import java.util.List;

/**
 * The jar's main program: shows which devices the Axis device driver sees and every event they send,
 * and can record them as a session for the simulated device driver. {@code java -jar
 * dravlo-<version>.jar --help} describes it. It uses the public API alone ({@link JogDial}, {@link
 * KeyPad}, {@link DravloLibrary}), as any program of yours would.
 */
// Threads: events arrive on the devices' threads, and `output` orders them, so that each line, its
// time and its place in the recording agree. The main thread opens the handles and waits; whichever
// thread ends the run (main, the shutdown hook of a Ctrl-C, the reader of standard input) closes
// them in finish(), which runs once. No listener waits for `life`, and finish() holds no lock while
// it closes, since close() waits for the listener calls running.
public final class Monitor {
    private static final String[] USAGE = {
        "Usage: java -jar dravlo-" + DravloLibrary.version() + ".jar [options]",
        "",
        "Opens jog dial 0 and keypad 0 of the Axis device driver and prints every event they send.",
        "First it prints the library's version and the file it was loaded from, the JVM, and how many",
        "jog dials and keypads the driver counts, or why a driver cannot be opened. Then one line per",
        "event: milliseconds since the start, the kind and device, the event and its value in words,",
        "and the thread that delivered it.",
        "",
        "Options:",
        "  --seconds N       end after N seconds (0: only the lines above); otherwise run until Enter",
        "                    or Ctrl-C",
        "  --json            one JSON object per event on standard output, with the fields t_ms, kind",
        "                    (\"jogdial\" or \"keypad\"), device, event (\"ButtonDown\", \"ButtonUp\",",
        "                    \"JogMove\" or \"ShuttleMove\"), value (the button, the jog direction 1 or",
        "                    -1, the shuttle ring's position) and thread; the other lines go to",
        "                    standard error",
        "  --record FILE     also write the events to FILE as a session that the simulated device",
        "                    driver AxisSimulator.dll plays back (AXIS_SIMULATOR_SESSION=FILE)",
        "  --backlight B     switch on the backlight of keypad button B for the run, off at the end",
        "  --help            this text",
        "",
        "Enter or Ctrl-C ends the run: both devices are closed and the recording completed. (A JVM that",
        "runs no shutdown hooks on Ctrl-C, Avian, ends at once then; Enter works on every JVM.)",
        "The devices' Error events reach no Java listener, so they are not shown.",
        "Exit status: 0; 2 when neither driver opens; 1 for a wrong option or a FILE not writable."};

    private final boolean json;
    private final PrintStream events = System.out;
    private final PrintStream header;
    private final long start = System.nanoTime();
    private final Integer backlight;
    // Guards the lines printed, the recording and the origin of its timeline.
    private final Object output = new Object();
    private SessionRecording recording;
    private long origin = -1;
    private long watched; // when the header was complete
    private int seen;
    // Events that came before the header was complete; null once it is.
    private List<Seen> held = new ArrayList<Seen>();
    // Guards the end of the run.
    private final Object life = new Object();
    private boolean stopRequested;
    private boolean finished;
    private JogDial dial;
    private KeyPad keys;

    private Monitor(boolean json, Integer backlight, SessionRecording recording) {
        this.json = json;
        this.header = json ? System.err : System.out;
        this.backlight = backlight;
        this.recording = recording;
    }

    /**
     * Runs the monitor; {@code --help} lists the arguments.
     *
     * @param args the command line
     */
    public static void main(String[] args) {
        long seconds = -1;
        boolean json = false;
        Integer backlight = null;
        String record = null;
        try {
            for (int i = 0; i < args.length; ++i) {
                String arg = args[i];
                if (arg.equals("--help") || arg.equals("-h")) {
                    for (String line : USAGE) System.out.println(line);
                    return;
                } else if (arg.equals("--json")) {
                    json = true;
                } else if (arg.equals("--seconds") && i + 1 < args.length) {
                    seconds = number(arg, args[++i], 0, Long.MAX_VALUE);
                } else if (arg.equals("--record") && i + 1 < args.length) {
                    record = args[++i];
                } else if (arg.equals("--backlight") && i + 1 < args.length) {
                    backlight = (int) number(arg, args[++i], Integer.MIN_VALUE, Integer.MAX_VALUE);
                } else {
                    throw new IllegalArgumentException("unknown option or missing value: " + arg);
                }
            }
        } catch (IllegalArgumentException wrong) {
            System.err.println("dravlo monitor: " + wrong.getMessage() + " (--help shows the options)");
            System.exit(1);
        }
        SessionRecording recording = null;
        if (record != null) {
            try {
                recording = new SessionRecording(new File(record), DravloLibrary.version());
            } catch (IOException unwritable) {
                System.err.println("dravlo monitor: cannot write " + record + ": " + unwritable.getMessage());
                System.exit(1);
            }
        }
        int status = new Monitor(json, backlight, recording).run(seconds);
        if (status != 0) System.exit(status);
    }

    private static long number(String option, String text, long least, long most) {
        try {
            long number = Long.parseLong(text);
            if (number >= least && number <= most) return number;
        } catch (NumberFormatException notOne) {
            // Said below.
        }
        throw new IllegalArgumentException(option + " takes a whole number" + (least == 0 ? " from 0" : "")
            + ", not " + text);
    }

    private int run(long seconds) {
        String library = "Dravlo " + DravloLibrary.version();
        LinkageError unloaded = null;
        try {
            DravloLibrary.load();
            File file = DravloLibrary.loadedFrom();
            header.println(library + " from " + (file != null ? file : "a file that cannot tell its name"));
        } catch (LinkageError failed) {
            header.println(library + ": cannot load the native library: " + failed.getMessage());
            unloaded = failed;
        }
        header.println("JVM: " + jvm());
        if (unloaded != null) return neitherOpens();
        try {
            dial = JogDial.open(event -> seen("jogdial", event), event -> seen("jogdial", event));
            opened();
            header.println("jog dials: " + dial.getDeviceCount());
        } catch (IOException | RuntimeException | LinkageError failed) {
            cannotOpen("jog dials", failed);
        }
        try {
            keys = KeyPad.open(event -> seen("keypad", event));
            opened();
            header.println("keypads: " + keys.getDeviceCount());
        } catch (IOException | RuntimeException | LinkageError failed) {
            cannotOpen("keypads", failed);
        }
        if (dial == null && keys == null) return neitherOpens();
        if (backlight != null) {
            if (keys != null) keys.setBacklight(backlight, true);
            header.println("backlight: keypad button " + backlight + (keys != null ? " on" : " not lit: no keypad"));
        }
        Runtime.getRuntime().addShutdownHook(new Thread(this::finish, "dravlo-monitor-shutdown"));
        watchStandardInput();
        begin(seconds >= 0 ? "watching for " + seconds + " s; Enter ends it earlier" : "watching; Enter ends it");
        awaitEnd(seconds);
        finish();
        return 0;
    }

    private int neitherOpens() {
        header.println("neither driver opens: nothing to watch");
        closeRecording();
        return 2;
    }

    /** The JVM in one line; Avian sets none of the java.vm properties. */
    private static String jvm() {
        String name = System.getProperty("java.vm.name");
        String version = System.getProperty("java.vm.version");
        if (name == null && System.getProperty("avian.version") != null) {
            name = "Avian";
            version = System.getProperty("avian.version");
        }
        StringBuilder line = new StringBuilder(name != null ? name : "unknown");
        if (version != null) line.append(' ').append(version);
        String java = System.getProperty("java.version");
        if (java != null) line.append(", Java ").append(java);
        return line.append(", ").append(System.getProperty("os.name")).append(' ').append(System.getProperty("os.arch"))
            .toString();
    }

    private void cannotOpen(String what, Throwable failed) {
        header.println(what + ": cannot open: " + failed.getMessage());
        // The handles make COM's reason the cause: which call failed, its HRESULT and text.
        for (Throwable cause = failed.getCause(); cause != null; cause = cause.getCause()) {
            header.println("  because: " + cause.getMessage());
        }
    }

    // The recording's timeline starts when the first device has started, as a session's does.
    private void opened() {
        synchronized (output) {
            if (origin < 0) origin = millis();
        }
    }

    private long millis() { return (System.nanoTime() - start) / 1000000; }

    private void seen(String kind, DialEvent event) {
        if (event.fEventType == DialEvent.JOG) {
            int direction = event.fJogDirection == DialEvent.CLOCKWISE ? 1 : -1;
            seen(new Seen(kind, event.fDeviceID, "JogMove", direction,
                "jog " + (direction > 0 ? "clockwise" : "counter-clockwise")));
        } else {
            seen(new Seen(kind, event.fDeviceID, "ShuttleMove", event.fShuttleState,
                "shuttle ring at " + event.fShuttleState));
        }
    }

    private void seen(String kind, KeyEvent event) {
        boolean down = event.fEventType == KeyEvent.BUTTON_DOWN;
        seen(new Seen(kind, event.fDeviceID, down ? "ButtonDown" : "ButtonUp", event.fButtonNumber,
            "button " + event.fButtonNumber + (down ? " down" : " up")));
    }

    private void seen(Seen event) {
        synchronized (output) {
            event.millis = millis();
            if (held != null) {
                held.add(event);
            } else {
                show(event);
            }
        }
    }

    /** Ends the header; the events held back until now follow it. */
    private void begin(String lastLine) {
        synchronized (output) {
            header.println(lastLine);
            watched = millis();
            if (recording != null) {
                try {
                    recording.begin(origin, dial != null ? dial.getDeviceCount() : 0,
                        keys != null ? keys.getDeviceCount() : 0);
                } catch (IOException failed) {
                    stopRecording(failed);
                }
            }
            for (Seen event : held) show(event);
            held = null;
        }
    }

    // Under `output`.
    private void show(Seen event) {
        ++seen;
        events.println(json ? event.json() : event.text());
        if (recording == null) return;
        try {
            recording.add(event);
        } catch (IOException failed) {
            stopRecording(failed);
        }
    }

    private void stopRecording(IOException failed) {
        header.println("recording stopped: " + failed.getMessage());
        recording.abandon();
        recording = null;
    }

    private void closeRecording() {
        synchronized (output) {
            if (recording == null) return;
            try {
                recording.close();
                header.println("recorded to " + recording.file());
            } catch (IOException failed) {
                stopRecording(failed);
            }
            recording = null;
        }
    }

    /** A line on standard input ends the run: the way to end it cleanly on a JVM that ignores Ctrl-C. */
    private void watchStandardInput() {
        Thread reader = new Thread(() -> {
            InputStream in = System.in;
            try {
                for (int c = in.read(); c != -1; c = in.read()) {
                    if (c == '\n') {
                        requestStop();
                        return;
                    }
                }
            } catch (IOException closed) {
                // No input to watch: Ctrl-C or --seconds ends the run.
            }
        }, "dravlo-monitor-input");
        reader.setDaemon(true);
        reader.start();
    }

    private void requestStop() {
        synchronized (life) {
            stopRequested = true;
            life.notifyAll();
        }
    }

    private void awaitEnd(long seconds) {
        if (seconds > Integer.MAX_VALUE) seconds = -1; // longer than anyone waits: until Enter or Ctrl-C
        long end = System.nanoTime() + seconds * 1000000000L;
        synchronized (life) {
            while (!stopRequested) {
                long left = (end - System.nanoTime()) / 1000000;
                if (seconds >= 0 && left <= 0) break;
                try {
                    life.wait(seconds >= 0 ? left : 0);
                } catch (InterruptedException interrupted) {
                    break;
                }
            }
        }
    }

    /** Switches the backlight off, closes both handles and completes the recording; once. */
    private void finish() {
        synchronized (life) {
            if (finished) return;
            finished = true;
        }
        if (keys != null && backlight != null) {
            try {
                keys.setBacklight(backlight, false);
            } catch (IllegalStateException closed) {
                // Closed already: there is no light to switch off.
            }
        }
        // close() returns when no listener call is running or will start, and the commands given
        // before it have reached the device.
        if (dial != null) dial.close();
        if (keys != null) keys.close();
        closeRecording();
        synchronized (output) {
            header.println("closed: watched " + (millis() - watched) + " ms, " + seen + " events");
        }
    }

    /** One event as the monitor shows and records it. */
    static final class Seen {
        final String kind;
        final int device;
        final String event;
        final int value;
        final String words;
        final String thread = Thread.currentThread().getName();
        long millis;

        Seen(String kind, int device, String event, int value, String words) {
            this.kind = kind;
            this.device = device;
            this.event = event;
            this.value = value;
            this.words = words;
        }

        String text() {
            return pad(millis + " ms", 10, true) + "  " + pad(kind + " " + device, 10, false)
                + pad(event + " " + value, 16, false) + pad(words, 26, false) + "on " + thread;
        }

        String json() {
            return "{\"t_ms\":" + millis + ",\"kind\":" + quote(kind) + ",\"device\":" + device + ",\"event\":"
                + quote(event) + ",\"value\":" + value + ",\"thread\":" + quote(thread) + "}";
        }

        private static String pad(String text, int width, boolean right) {
            StringBuilder padded = new StringBuilder();
            if (!right) padded.append(text);
            for (int i = text.length(); i < width; ++i) padded.append(' ');
            if (right) padded.append(text);
            return padded.toString();
        }

        private static String quote(String text) {
            if (text == null) return "null";
            StringBuilder quoted = new StringBuilder("\"");
            for (int i = 0; i < text.length(); ++i) {
                char c = text.charAt(i);
                if (c == '"' || c == '\\') {
                    quoted.append('\\').append(c);
                } else if (c < 0x20) {
                    String hex = Integer.toHexString(c);
                    quoted.append("\\u00").append(hex.length() < 2 ? "0" : "").append(hex);
                } else {
                    quoted.append(c);
                }
            }
            return quoted.append('"').toString();
        }
    }
}
