package dravlo.jvmtest;

import static dravlo.jvmtest.RealJvm.dial;
import static dravlo.jvmtest.RealJvm.key;

import applet.utils.dravlo.DialEvent;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyEvent;
import applet.utils.dravlo.KeyPad;
import java.util.Arrays;
import java.util.List;

/**
 * The simulator's panel on a display, on sessions/panel.session: its panel line opens the panel
 * and its own events play beside it. tests/realjvm/panel-check.sh works the panel as a user does
 * and looks at how it is drawn; the two meet in the simulator's log. A click on keypad button 5 and
 * one on jog forward reach the listeners; button 5's backlight goes on from here (the script sees it
 * drawn lit); the key 1 typed on the panel reaches the keypad's listener; the keypad closes and
 * the panel stays for the jog dial, whose second click arrives; the program ends with the jog dial
 * and the panel still open.
 */
final class RealPanelTests implements TestGroup {
    /** The script first waits for a fresh Wine prefix to start the program. */
    private static final long WAIT = 90000;

    @Override
    public void run(Check check) throws Exception {
        System.load(RealJvm.LIBRARY);
        final RealJvm.Recorder dials = new RealJvm.Recorder();
        final RealJvm.Recorder keys = new RealJvm.Recorder();
        JogDial jogDial = JogDial.open(dials, dials);
        KeyPad keyPad = KeyPad.open(keys);
        check.isTrue("the session's events arrive beside the panel",
            RealJvm.await(WAIT, () -> keys.events().contains(key(KeyEvent.BUTTON_UP, 9))));
        check.isTrue("a click on keypad button 5 reaches the listener",
            RealJvm.await(WAIT, () -> keys.events().contains(key(KeyEvent.BUTTON_UP, 5))));
        List<String> pressed = keys.events();
        check.isTrue("button 5 down before up: " + pressed,
            pressed.indexOf(key(KeyEvent.BUTTON_DOWN, 5)) >= 0
                && pressed.indexOf(key(KeyEvent.BUTTON_DOWN, 5)) < pressed.indexOf(key(KeyEvent.BUTTON_UP, 5)));
        check.isTrue("a click on jog forward reaches the listener",
            RealJvm.await(WAIT, () -> dials.events().contains(dial(DialEvent.JOG, 0, DialEvent.CLOCKWISE))));
        keyPad.setBacklight(5, true);
        check.isTrue("the key 1 typed on the panel reaches the listener",
            RealJvm.await(WAIT, () -> keys.events().contains(key(KeyEvent.BUTTON_UP, 1))));
        check.equal("what the panel did, in the simulator's log",
            Arrays.asList("Panel.Open", "Panel.ButtonDown(keypad,5) by mouse", "Panel.ButtonUp(keypad,5) by mouse",
                "Panel.JogMove(jogdial,1) by mouse", "Panel.ButtonDown(keypad,1) by key 1",
                "Panel.ButtonUp(keypad,1) by key 1").toString(),
            RealJvm.log("Panel.").toString());  // Avian's Arrays.asList and ArrayList never compare equal
        keyPad.close();
        check.isTrue("the panel stays for the jog dial: a second click on jog forward reaches it",
            RealJvm.await(30000, () -> count(dials.events(), dial(DialEvent.JOG, 0, DialEvent.CLOCKWISE)) == 2));
        // jogDial stays open: the JVM ends with the panel's window and thread still there.
    }

    private static int count(List<String> events, String event) {
        int count = 0;
        for (String each : events)
            if (each.equals(event)) ++count;
        return count;
    }
}
