package dravlo.jvmtest;

import applet.utils.dravlo.DravloLibrary;
import applet.utils.dravlo.JogDial;
import applet.utils.dravlo.KeyPad;

/**
 * The installed jar where its copy of the library cannot be extracted (Avian's class library), with
 * a library named Dravlo.dll that is not Dravlo's on PATH: the loader refuses it with one
 * UnsatisfiedLinkError that says what it found, what it needs and how to choose, and every later
 * open() meets the same, without a thread started or anything else thrown.
 */
final class RealForeignTests implements TestGroup {
    @Override
    public void run(Check check) throws Exception {
        String refusal = "Cannot load native library Dravlo: the Dravlo.dll that the system's search found is not a"
            + " Dravlo library (or one older than 1.1.0, which does not state its version), and this jar needs"
            + " Dravlo.dll version " + DravloLibrary.version() + ". Name the file to load with"
            + " -Ddravlo.library.path=<file or folder>.";
        int threads = Thread.activeCount();
        check.throwsExactly("JogDial.open()", UnsatisfiedLinkError.class, refusal, JogDial::open);
        check.throwsExactly("KeyPad.open() after it", UnsatisfiedLinkError.class, refusal, KeyPad::open);
        check.throwsExactly("DravloLibrary.load() after both", UnsatisfiedLinkError.class, refusal, DravloLibrary::load);
        check.equal("no owner thread started", threads, Thread.activeCount());
        check.equal("nothing loaded", null, DravloLibrary.loadedFrom());
    }
}
