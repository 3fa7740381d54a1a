import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.DialListener;
import applet.utils.dravlo.DravloLibrary;
import applet.utils.dravlo.JogDialDriver;
import applet.utils.dravlo.KeyCommand;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyListener;
import applet.utils.dravlo.KeyPadDriver;
import java.io.IOException;

/**
 * Prints the events of jog dial 0 and keypad 0 for a few seconds, lights keypad button 1 meanwhile
 * and shuts down. Each driver lives on a thread of its own, which initialises and uninitialises it.
 *
 * <p>{@code java -cp dravlo-<version>.jar;. DravloExample [seconds]}
 */
public final class DravloExample {
    public static void main(String[] args) throws Exception {
        DravloLibrary.load();
        long seconds = args.length > 0 ? Long.parseLong(args[0]) : 10;
        Thread dial = new Thread(DravloExample::runJogDial, "jog dial");
        Thread keys = new Thread(DravloExample::runKeyPad, "keypad");
        dial.start();
        keys.start();
        Thread.sleep(seconds * 1000);
        dial.interrupt();  // each driver's thread runs until it is interrupted
        keys.interrupt();
        dial.join();
        keys.join();
        System.out.println("done");
    }

    private static void runJogDial() {
        JogDialDriver driver = new JogDialDriver();
        DialListener dials = event -> System.out.println(describe(event) + " on " + Thread.currentThread().getName());
        KeyListener keys = event -> System.out.println("jog dial " + describe(event));
        try {
            driver.registerDialListenerImpl(dials);
            driver.registerKeyListenerImpl(keys);
            driver.initializeImpl();
            System.out.println("jog dials: " + driver.getNumberOfDevicesImpl());
            awaitStop();
        } catch (IOException failed) {
            System.out.println("jog dial: " + failed.getMessage());
        } finally {
            driver.uninitializeImpl();
        }
    }

    private static void runKeyPad() {
        KeyPadDriver driver = new KeyPadDriver();
        try {
            driver.registerKeyListenerImpl((KeyListener) event -> System.out.println("keypad " + describe(event)));
            driver.initializeImpl();
            System.out.println("keypads: " + driver.getNumberOfDevicesImpl());
            driver.executeCommandImpl(new KeyCommand(0, KeyCommand.BACKLIGHT_ON, 1));
            awaitStop();
            driver.executeCommandImpl(new KeyCommand(0, KeyCommand.BACKLIGHT_OFF, 1));
        } catch (IOException failed) {
            System.out.println("keypad: " + failed.getMessage());
        } finally {
            driver.uninitializeImpl();
        }
    }

    private static void awaitStop() {
        try {
            Thread.sleep(Long.MAX_VALUE);
        } catch (InterruptedException stop) {
            // main's signal to shut down
        }
    }

    private static String describe(DialEvent event) {
        return event.fEventType == DialEvent.JOG
            ? "jog " + (event.fJogDirection == DialEvent.CLOCKWISE ? "clockwise" : "counter-clockwise")
            : "shuttle at " + event.fShuttleState;
    }

    private static String describe(KeyEvent event) {
        return "button " + event.fButtonNumber + (event.fEventType == KeyEvent.BUTTON_DOWN ? " down" : " up");
    }
}
