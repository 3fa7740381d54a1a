package dravlo.jvmtest;

import applet.utils.dravlo.DravloLibrary;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.JogDialDriver;
import applet.utils.dravlo.KeyCommand;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import applet.utils.dravlo.KeyPadDriver;
import java.io.File;
import java.io.IOException;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * Every failure a Java program can meet, as the exception it sees, in a prefix where only
 * Dravlo.dll is registered, run from the installed release: no Axis driver (through the natives,
 * through the handles, whose cause names COM's reason, and in the jar's monitor), listeners without
 * their callback, wrong commands.
 */
final class RealFailuresTests implements TestGroup {
    /** A key callback with the wrong parameter type is no callback. */
    static final class WrongSignature {
        public void onKeyEvent(Object event) {}

        public void onDialEvent(KeyEvent event) {}
    }

    /** A driver's call that answers a number. */
    interface Count {
        int get();
    }

    /**
     * Initialising without an Axis driver fails and leaves nothing behind: a second attempt on the same
     * thread meets the same failure, before uninitializeImpl and after it.
     */
    private static void withoutDriver(Check check, String name, Check.Body initialize, Count uninitialize,
                                      Count devices, String noDriver) {
        check.throwsIOException(name + " without a driver", noDriver, initialize);
        check.equal(name + ": devices after the failure", 0, devices.get());
        check.throwsIOException(name + " again before uninitializeImpl", noDriver, initialize);
        check.equal(name + ": uninitializeImpl after the failure", 0, uninitialize.get());
        check.throwsIOException(name + " after uninitializeImpl", noDriver, initialize);
        check.equal(name + ": uninitializeImpl again", 0, uninitialize.get());
    }

    /** A handle without an Axis driver: the library's text, and COM's reason as the cause. */
    private static void handleWithoutDriver(Check check, String name, Check.Body open, String object) {
        IOException thrown = null;
        try {
            open.run();
        } catch (IOException expected) {
            thrown = expected;
        } catch (Throwable other) {
            check.unexpected(name + ".open() without a driver", other);
        }
        check.equal(name + ".open() without a driver", name + " driver initialization failed",
            thrown == null ? null : thrown.getMessage());
        check.equal(name + ".open() without a driver: the cause", noClass(object),
            thrown == null || thrown.getCause() == null ? null : thrown.getCause().getMessage());
    }

    private static String noClass(String object) {
        return "creating the Axis " + object + " object: 0x80040154 Class not registered (the Axis device driver is"
            + " not installed, or it is installed for 32-bit programs only and this JVM is 64-bit)";
    }

    /** The jar's monitor without a driver: each failure with COM's reason, on standard error with --json. */
    private static void monitorWithoutDriver(Check check) throws Exception {
        RealJvm.MonitorRun monitor = new RealJvm.MonitorRun(null, "--json");
        check.equal("monitor without a driver: exit status", 2, monitor.end(20000));
        check.equal("monitor without a driver: no event line", "[]", monitor.out().toString());
        List<String> err = monitor.err();
        check.isTrue("monitor without a driver: the library and the JVM first: " + err,
            err.size() > 2 && err.get(0).startsWith("Dravlo 1.1.0 from ") && err.get(1).startsWith("JVM: Avian"));
        check.equal("monitor without a driver: why",
            Arrays.asList("jog dials: cannot open: JogDial driver initialization failed", "  because: " + noClass("jog dial"),
                "keypads: cannot open: KeyPad driver initialization failed", "  because: " + noClass("keypad"),
                "neither driver opens: nothing to watch").toString(),
            RealJvm.slice(err, 2, err.size()).toString());
    }

    @Override
    public void run(final Check check) throws Exception {
        DravloLibrary.load();
        check.equal("the file loaded, found by name in the current folder",
            new File(System.getProperty("user.dir"), "Dravlo.dll").getPath().toLowerCase(Locale.ENGLISH),
            String.valueOf(DravloLibrary.loadedFrom()).toLowerCase(Locale.ENGLISH));
        handleWithoutDriver(check, "JogDial", JogDial::open, "jog dial");
        handleWithoutDriver(check, "KeyPad", KeyPad::open, "keypad");
        monitorWithoutDriver(check);
        final JogDialDriver jogDial = new JogDialDriver();
        final KeyPadDriver keyPad = new KeyPadDriver();
        // Each driver on a thread of its own, as the library asks.
        Thread keyPadThread = RealJvm.start(check, "keypad", () -> withoutDriver(check, "keypad", keyPad::initializeImpl,
            keyPad::uninitializeImpl, keyPad::getNumberOfDevicesImpl, "KeyPad driver initialization failed"));
        withoutDriver(check, "jog dial", jogDial::initializeImpl, jogDial::uninitializeImpl,
            jogDial::getNumberOfDevicesImpl, "JogDial driver initialization failed");
        keyPadThread.join();
        Object[][] failures = {
            {"dial listener without onDialEvent", "onDialEvent not found in ...",
                (Check.Body) () -> jogDial.registerDialListenerImpl(new Object())},
            {"jog dial key listener without onKeyEvent", "onKeyEvent not found in ...",
                (Check.Body) () -> jogDial.registerKeyListenerImpl(new Object())},
            {"keypad key listener without onKeyEvent", "onKeyEvent not found in ...",
                (Check.Body) () -> keyPad.registerKeyListenerImpl(new Object())},
            {"dial callback of the wrong type", "onDialEvent not found in ...",
                (Check.Body) () -> jogDial.registerDialListenerImpl(new WrongSignature())},
            {"jog dial key callback of the wrong type", "onKeyEvent not found in ...",
                (Check.Body) () -> jogDial.registerKeyListenerImpl(new WrongSignature())},
            {"keypad key callback of the wrong type", "onKeyEvent not found in ...",
                (Check.Body) () -> keyPad.registerKeyListenerImpl(new WrongSignature())},
            {"null unregisters", null, (Check.Body) () -> keyPad.registerKeyListenerImpl(null)},
            {"a command without a device", null,
                (Check.Body) () -> keyPad.executeCommandImpl(new KeyCommand(0, KeyCommand.BACKLIGHT_ON, 1))},
            {"a null command", null, (Check.Body) () -> keyPad.executeCommandImpl(null)},
            {"a command of an unknown type", null, (Check.Body) () -> keyPad.executeCommandImpl(new KeyCommand(0, 7, 1))},
        };
        for (Object[] failure : failures) {
            if (failure[1] == null)
                check.returnsNormally((String) failure[0], (Check.Body) failure[2]);
            else
                check.throwsIOException((String) failure[0], (String) failure[1], (Check.Body) failure[2]);
        }
    }
}
