package dravlo.jvmtest;

import static dravlo.jvmtest.RealJvm.dial;
import static dravlo.jvmtest.RealJvm.key;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DravloLibrary;
import applet.utils.dravlo.JogDialDriver;
import applet.utils.dravlo.KeyCommand;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPadDriver;
import java.io.File;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;

/**
 * A whole session of sessions/session.session with both drivers, by a program that never calls
 * DravloLibrary.load(): listeners before and after initializeImpl, every event checked, the sinks'
 * type information as the device asked for it, backlight commands in the simulator's log,
 * uninitializeImpl, and nothing delivered afterwards.
 */
final class RealSessionTests implements TestGroup {
    private static final List<String> DIALS = Arrays.asList(key(KeyEvent.BUTTON_DOWN, 3),
        dial(DialEvent.JOG, 0, DialEvent.CLOCKWISE), key(KeyEvent.BUTTON_UP, 3),
        dial(DialEvent.JOG, 0, DialEvent.COUNTER_CLOCKWISE), dial(DialEvent.SHUTTLE, -3, 0), dial(DialEvent.SHUTTLE, 0, 0));
    private static final List<String> KEYS = Arrays.asList(key(KeyEvent.BUTTON_DOWN, 5), key(KeyEvent.BUTTON_UP, 5),
        key(KeyEvent.BUTTON_DOWN, 6), key(KeyEvent.BUTTON_UP, 6));
    private static final String TAIL_DIAL = dial(DialEvent.JOG, 0, DialEvent.CLOCKWISE);
    private static final String TAIL_KEY = key(KeyEvent.BUTTON_DOWN, 7);

    /** Lights each scripted button while it is down, from inside the callback. */
    private static final class Backlights extends RealJvm.Recorder {
        final KeyPadDriver driver;

        Backlights(KeyPadDriver driver) { this.driver = driver; }

        @Override
        public void onKeyEvent(KeyEvent event) {
            super.onKeyEvent(event);
            if (event.fButtonNumber == 7) return;
            int type = event.fEventType == KeyEvent.BUTTON_DOWN ? KeyCommand.BACKLIGHT_ON : KeyCommand.BACKLIGHT_OFF;
            driver.executeCommandImpl(new KeyCommand(0, type, event.fButtonNumber));
        }
    }

    @Override
    public void run(final Check check) throws Exception {
        final JogDialDriver jogDial = new JogDialDriver(); // loads the library
        final RealJvm.Recorder dials = new RealJvm.Recorder();
        jogDial.registerKeyListenerImpl((KeyListener) dials::onKeyEvent);  // a lambda, as applications write them
        check.equal("JogDialDriver.initializeImpl", 0, jogDial.initializeImpl());
        jogDial.registerDialListenerImpl(dials);
        check.equal("jog dials", 1, jogDial.getNumberOfDevicesImpl());
        check.throwsIOException("jog dial initialised again on its thread", "Faild to initialize COM context",
            () -> jogDial.initializeImpl());
        check.throwsIOException("keypad on the jog dial's thread", "Failed to initialize COM context",
            () -> new KeyPadDriver().initializeImpl());

        final KeyPadDriver keyPad = new KeyPadDriver();
        final Backlights keys = new Backlights(keyPad);
        final int[] afterUninitialize = new int[2];
        Thread keyPadThread = RealJvm.start(check, "keypad", () -> {
            keyPad.registerKeyListenerImpl(keys);
            check.equal("KeyPadDriver.initializeImpl", 0, keyPad.initializeImpl());
            check.equal("keypads", 2, keyPad.getNumberOfDevicesImpl());
            // Commands that are no backlight command do nothing and throw nothing.
            for (KeyCommand wrong : new KeyCommand[] {null, new KeyCommand(0, 2, 1), new KeyCommand(0, -1, 1)})
                check.returnsNormally("executeCommandImpl of a wrong command", () -> keyPad.executeCommandImpl(wrong));
            keyPad.executeCommandImpl(new KeyCommand(0, KeyCommand.BACKLIGHT_ON, 9));
            check.isTrue("keypad tail reached",
                RealJvm.await(20000, () -> keys.events().contains(TAIL_KEY) && keys.count() >= KEYS.size() + 3));
            check.equal("KeyPadDriver.uninitializeImpl", 0, keyPad.uninitializeImpl());
            afterUninitialize[1] = keys.count();
        });
        check.isTrue("jog dial tail reached",
            RealJvm.await(20000, () -> dials.events().contains(TAIL_DIAL) && dials.count() >= DIALS.size() + 3));
        check.equal("JogDialDriver.uninitializeImpl", 0, jogDial.uninitializeImpl());
        afterUninitialize[0] = dials.count();
        keyPadThread.join();
        Thread.sleep(500);

        Object[][] drivers = {{"jog dial", dials, DIALS, TAIL_DIAL, 0}, {"keypad", keys, KEYS, TAIL_KEY, 1}};
        List<Thread> javaThreads = Arrays.asList(Thread.currentThread(), keyPadThread);
        for (Object[] row : drivers) {
            String name = (String) row[0];
            RealJvm.Recorder recorder = (RealJvm.Recorder) row[1];
            @SuppressWarnings("unchecked")
            List<String> scripted = (List<String>) row[2];
            List<String> events = recorder.events();
            // Compared as text: Avian's lists compare by identity.
            check.equal(name + ": the scripted events, in order", scripted.toString(),
                RealJvm.slice(events, 0, scripted.size()).toString());
            int others = 0;
            for (String event : RealJvm.slice(events, scripted.size(), events.size())) others += event.equals(row[3]) ? 0 : 1;
            check.equal(name + ": then only the tail's events", 0, others);
            check.equal(name + ": nothing delivered after uninitializeImpl", afterUninitialize[(Integer) row[4]],
                recorder.count());
            List<Thread> threads = recorder.threads();
            check.equal(name + ": each event on a thread attached for it alone", threads.size(),
                new HashSet<>(threads).size());
            boolean foreign = true;
            for (Thread thread : threads) foreign &= !javaThreads.contains(thread) && !thread.isAlive();
            check.isTrue(name + ": never on a Java thread of ours, and detached afterwards", foreign);
        }

        File loaded = DravloLibrary.loadedFrom();
        File expected = RealJvm.LIBRARY != null ? new File(RealJvm.LIBRARY).getAbsoluteFile()
                                                : new File(System.getProperty("user.dir"), "Dravlo.dll");
        check.equal("the file loaded: dravlo.library.path's, or the one found by name in the current folder",
            expected.getPath().toLowerCase(Locale.ENGLISH), String.valueOf(loaded).toLowerCase(Locale.ENGLISH));
        check.equal("each sink's type information, as the device asked for it at Advise",
            Arrays.asList("JogDialDevice#0.SinkTypeInfo(_IAxisJogDialEvents)",
                "KeyPadDevice#0.SinkTypeInfo(_IAxisKeyPadEvents)").toString(),
            RealJvm.log("SinkTypeInfo").toString());

        List<String> lights = new ArrayList<>(Arrays.asList("SetBacklight(9,1)"));
        for (String event : KEYS) {
            int button = event.contains("button=5") ? 5 : 6;
            lights.add("SetBacklight(" + button + "," + (event.contains("type=0") ? 1 : 0) + ")");
        }
        List<String> logged = new ArrayList<>();
        for (String entry : RealJvm.log("SetBacklight")) logged.add(entry.substring(entry.indexOf('.') + 1));
        check.equal("backlight commands that reached the device", lights.toString(), logged.toString());
        for (String kind : new String[] {"JogDialDevice#0", "KeyPadDevice#0"}) {
            List<String> lifecycle = RealJvm.log(kind + ".");
            check.isTrue(kind + " stopped, unadvised and released",
                lifecycle.containsAll(Arrays.asList(kind + ".Stop", kind + ".Unadvise(1)", kind + ".Release->0")));
        }
    }
}
