package dravlo.jvmtest;

import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The jar's monitor, run by {@code java -jar} from the installed release: its header and lines for
 * the simulator's default session, the backlight it lights and the devices it closes when Enter
 * ends it; {@code --seconds}; {@code --json} lines that parse; and a session recorded with {@code
 * --record} that plays back to the same events, no gap shorter than recorded.
 */
final class RealMonitorTests implements TestGroup {
    private static final List<String> DEFAULT_SESSION = Arrays.asList("jogdial 0 ButtonDown 3", "jogdial 0 ButtonUp 3",
        "jogdial 0 JogMove 1", "jogdial 0 JogMove 1", "jogdial 0 JogMove -1", "jogdial 0 ShuttleMove -3",
        "jogdial 0 ShuttleMove 0", "keypad 0 ButtonDown 5", "keypad 0 ButtonUp 5", "keypad 0 ButtonDown 6",
        "keypad 0 ButtonUp 6");
    // sessions/monitor.session, whose kinds take turns.
    private static final List<String> MONITOR_SESSION = Arrays.asList("jogdial 0 ButtonDown 3", "jogdial 0 JogMove 1",
        "jogdial 0 JogMove -1", "keypad 0 ButtonDown 5", "keypad 0 ButtonUp 5", "jogdial 0 ShuttleMove -3",
        "jogdial 0 ShuttleMove 0", "jogdial 0 ButtonUp 3", "keypad 0 ButtonDown 6", "keypad 0 ButtonUp 6");
    // A line of --json: a JSON object of exactly these fields, in this order, each of its type (JSON's
    // integers have no leading zeros; these strings need no escapes).
    private static final String INTEGER = "(-?(?:0|[1-9][0-9]*))";
    private static final Pattern JSON_LINE = Pattern.compile("\\{\"t_ms\":" + INTEGER
        + ",\"kind\":\"(jogdial|keypad)\",\"device\":" + INTEGER
        + ",\"event\":\"(ButtonDown|ButtonUp|JogMove|ShuttleMove)\",\"value\":" + INTEGER
        + ",\"thread\":\"dravlo-(jogdial|keypad)-events\"\\}");
    private static final long DEADLINE = 20000;

    @Override
    public void run(final Check check) throws Exception {
        textForTheDefaultSession(check);

        RealJvm.MonitorRun timed = new RealJvm.MonitorRun(null, "--json", "--seconds", "1");
        check.equal("--seconds 1: ends by itself", 0, timed.end(DEADLINE));
        List<String> closing = timed.err();
        check.isTrue("--seconds 1: closed after a second, not before: " + closing, watched(closing) >= 1000);

        String recording = new File(System.getProperty("java.io.tmpdir"), "monitor-recorded.session").getPath();
        String session = System.getProperty("dravlo.monitor.session");
        List<Matcher> recorded = json(check, "recording", session, "--record", recording);
        List<Matcher> replayed = json(check, "replay", recording);
        // Each kind plays from a thread of its own, and a slow delivery delays the later events of its
        // kind alone: only the order within a kind is the session's on a busy machine.
        for (String kind : new String[] {"jogdial", "keypad"}) {
            List<String> expected = new ArrayList<>();
            for (String event : MONITOR_SESSION)
                if (event.startsWith(kind)) expected.add(event);
            check.equal("recording: the session's " + kind + " events", expected.toString(),
                events(recorded, kind).toString());
            check.equal("replay: the recorded " + kind + " events", events(recorded, kind).toString(),
                events(replayed, kind).toString());
            List<Long> before = gaps(recorded, kind), after = gaps(replayed, kind);
            for (int i = 0; i < Math.min(before.size(), after.size()); ++i) {
                check.isTrue("replay: " + kind + " gap " + i + " of " + after.get(i) + " ms, recorded " + before.get(i),
                    after.get(i) >= before.get(i) - 2);
            }
        }
    }

    /** The default session in text, with a backlight, ended by Enter once every event is seen. */
    private static void textForTheDefaultSession(Check check) throws Exception {
        final RealJvm.MonitorRun run = new RealJvm.MonitorRun(null, "--backlight", "4");
        check.isTrue("text: every event of the default session",
            run.enterWhen(DEADLINE, () -> run.out().size() >= 6 + DEFAULT_SESSION.size()));
        check.equal("text: exit status after Enter", 0, run.end(DEADLINE));
        List<String> lines = run.out();
        File library = new File(System.getProperty("user.dir"), "Dravlo.dll");
        check.equal("text: the library and its file", ("Dravlo 1.1.0 from " + library).toLowerCase(Locale.ENGLISH),
            lines.get(0).toLowerCase(Locale.ENGLISH));
        check.isTrue("text: the JVM, " + lines.get(1), lines.get(1).startsWith("JVM: Avian "));
        check.equal("text: the devices and the backlight",
            Arrays.asList("jog dials: 1", "keypads: 1", "backlight: keypad button 4 on", "watching; Enter ends it")
                .toString(), RealJvm.slice(lines, 2, 6).toString());
        List<String> jogDial = new ArrayList<>(), keyPad = new ArrayList<>();
        long previous = 500; // the session's first wait, after the device started
        for (String line : RealJvm.slice(lines, 6, lines.size() - 1)) {
            String[] words = line.trim().split(" +");
            long millis = Long.parseLong(words[0]);
            check.isTrue("text: in time, after the one before: " + line, millis >= previous && words[1].equals("ms"));
            previous = millis;
            String event = words[2] + " " + words[3] + " " + words[4] + " " + words[5];
            (words[2].equals("jogdial") ? jogDial : keyPad).add(event);
            check.equal("text: the thread of " + line, "dravlo-" + words[2] + "-events", words[words.length - 1]);
        }
        check.equal("text: jog dial events", RealJvm.slice(DEFAULT_SESSION, 0, 7).toString(), jogDial.toString());
        check.equal("text: keypad events", RealJvm.slice(DEFAULT_SESSION, 7, 11).toString(), keyPad.toString());
        check.isTrue("text: closed last: " + lines.get(lines.size() - 1),
            watched(lines) >= 0 && lines.get(lines.size() - 1).endsWith(" ms, 11 events"));
        // Each process empties the simulator's log at its first entry: read before the next run.
        check.equal("text: the backlight on, and off at the end",
            Arrays.asList("KeyPadDevice#0.SetBacklight(4,1)", "KeyPadDevice#0.SetBacklight(4,0)").toString(),
            RealJvm.log("SetBacklight").toString());
        for (String device : new String[] {"JogDialDevice#0", "KeyPadDevice#0"}) {
            check.isTrue("text: " + device + " stopped, unadvised and released", RealJvm.log(device + ".")
                .containsAll(Arrays.asList(device + ".Stop", device + ".Unadvise(1)", device + ".Release->0")));
        }
    }

    /** A --json run of `session`, ended by Enter once it printed every event expected; its lines matched. */
    private static List<Matcher> json(Check check, String what, String session, String... more) throws Exception {
        List<String> args = new ArrayList<>(Arrays.asList("--json"));
        args.addAll(Arrays.asList(more));
        final RealJvm.MonitorRun run = new RealJvm.MonitorRun(session, args.toArray(new String[0]));
        check.isTrue(what + ": every event", run.enterWhen(DEADLINE, () -> run.out().size() >= MONITOR_SESSION.size()));
        check.equal(what + ": exit status", 0, run.end(DEADLINE));
        check.equal(what + ": the devices, on standard error", Arrays.asList("jog dials: 1", "keypads: 2").toString(),
            RealJvm.slice(run.err(), 2, 4).toString());
        List<Matcher> events = new ArrayList<>();
        for (String line : run.out()) {
            Matcher event = JSON_LINE.matcher(line);
            boolean matches = event.matches();
            check.isTrue(what + ": a JSON object of the fields named, in order, of their types: " + line,
                matches && event.group(2).equals(event.group(6)));
            if (matches) events.add(event);
        }
        return events;
    }

    /** How long the closing line, the last of `lines`, says the monitor watched; -1 without one. */
    private static long watched(List<String> lines) {
        String last = lines.isEmpty() ? "" : lines.get(lines.size() - 1);
        return last.startsWith("closed: watched ") ? Long.parseLong(last.split(" ")[2]) : -1;
    }

    /** One kind's (kind, device, event, value), in the order they came. */
    private static List<String> events(List<Matcher> events, String kind) {
        List<String> seen = new ArrayList<>();
        for (Matcher event : events) {
            if (event.group(2).equals(kind))
                seen.add(kind + " " + event.group(3) + " " + event.group(4) + " " + event.group(5));
        }
        return seen;
    }

    /** The times between one kind's events. */
    private static List<Long> gaps(List<Matcher> events, String kind) {
        List<Long> gaps = new ArrayList<>();
        Long previous = null;
        for (Matcher event : events) {
            if (!event.group(2).equals(kind)) continue;
            long millis = Long.parseLong(event.group(1));
            if (previous != null) gaps.add(millis - previous);
            previous = millis;
        }
        return gaps;
    }
}
