import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import java.io.IOException;

/**
 * Prints the events of jog dial 0 and keypad 0 for a few seconds, each with the thread it arrived
 * on, lights every keypad button while it is held down, and closes both.
 *
 * <p>{@code java -cp "dravlo-<version>.jar;." DravloExample [seconds]}
 */
public final class DravloExample {
    public static void main(String[] args) throws InterruptedException {
        long seconds = args.length > 0 ? Long.parseLong(args[0]) : 10;
        // The listeners given to open() hear every event; those added later, the events from then on.
        try (
            JogDial dial = JogDial.open(event -> print(describe(event)), event -> print("jog dial " + describe(event)));
            KeyPad keys = KeyPad.open(event -> print("keypad " + describe(event)))) {
            System.out.println("jog dials: " + dial.getDeviceCount() + ", keypads: " + keys.getDeviceCount());
            keys.addKeyListener(
                event -> keys.setBacklight(event.fButtonNumber, event.fEventType == KeyEvent.BUTTON_DOWN));
            Thread.sleep(seconds * 1000);
        } catch (IOException failed) {
            System.out.println("cannot open: " + failed.getMessage());
        }
        System.out.println("done");
    }

    // The handles name the threads that deliver events, so this reads the same on every JVM.
    private static void print(String event) { System.out.println(event + " on " + Thread.currentThread().getName()); }

    private static String describe(DialEvent event) {
        return event.fEventType == DialEvent.JOG
            ? "jog " + (event.fJogDirection == DialEvent.CLOCKWISE ? "clockwise" : "counter-clockwise")
            : "shuttle at " + event.fShuttleState;
    }

    private static String describe(KeyEvent event) {
        return "button " + event.fButtonNumber + (event.fEventType == KeyEvent.BUTTON_DOWN ? " down" : " up");
    }
}
