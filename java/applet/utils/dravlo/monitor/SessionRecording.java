package applet.utils.dravlo.monitor;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;

/**
 * The events the monitor saw, written as a session that the simulated device driver plays back: the
 * devices counted, then one line per event, with a wait before each that came a millisecond or more
 * after the one before. The session's time begins when the first device opened, as the simulator's
 * does when its device starts; what came earlier plays at once. Each line is written when it comes,
 * so a run that is killed leaves a session of what it saw.
 *
 * <p>Not thread-safe: the monitor calls it under the lock that orders its lines.
 */
final class SessionRecording {
    // What a session line may say: a wait of at most ten minutes, at most 16 devices of a kind.
    private static final long LONGEST_WAIT = 600000;
    private static final int MOST_DEVICES = 16;

    private final File file;
    private final OutputStream out;
    private long origin;
    private long last; // the session's time at the last event written

    SessionRecording(File file, String version) throws IOException {
        this.file = file;
        this.out = new FileOutputStream(file);
        write("# Recorded by the Dravlo " + version + " monitor; AXIS_SIMULATOR_SESSION=<this file> plays it.");
    }

    File file() { return file; }

    /** The devices are open: their counts, and the time their session begins. Before any event. */
    void begin(long originMillis, int jogDials, int keyPads) throws IOException {
        devices("jogdial", jogDials);
        devices("keypad", keyPads);
        origin = originMillis;
    }

    void add(Monitor.Seen event) throws IOException {
        long at = Math.max(last, event.millis - origin);
        for (long gap = at - last; gap > 0; gap -= LONGEST_WAIT) write("wait " + Math.min(gap, LONGEST_WAIT));
        last = at;
        // Only device 0 has a listener, and the simulator numbers its devices by index.
        write(event.kind + " 0 " + event.event + " " + event.value
            + (event.device != 0 ? "  # the driver said device " + event.device : ""));
    }

    void close() throws IOException { out.close(); }

    /** After a failed write: closes the file, as far as it goes. */
    void abandon() {
        try {
            out.close();
        } catch (IOException ignored) {
            // Reported already by the write that failed.
        }
    }

    private void devices(String kind, int count) throws IOException {
        write("devices " + kind + " " + Math.min(count, MOST_DEVICES)
            + (count > MOST_DEVICES ? "  # the driver counted " + count : ""));
    }

    private void write(String line) throws IOException { out.write((line + "\n").getBytes("UTF-8")); }
}
