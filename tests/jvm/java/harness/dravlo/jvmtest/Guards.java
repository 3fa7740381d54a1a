package dravlo.jvmtest;

import java.io.IOException;

/**
 * Bodies run inside the entry-point guards. Every guarded native names its own fixed message, the
 * text reserved for failures that are not standard C++ exceptions.
 */
final class Guards {
    private Guards() {}

    static native void throwJniException(String message, String fixedMessage) throws IOException;

    static native void throwIoException(String message, String fixedMessage) throws IOException;

    static native void throwRuntimeError(String message, String fixedMessage) throws IOException;

    /** Throws something that is not a std::exception. */
    static native void throwNonStandard(String fixedMessage) throws IOException;

    /** Returns `value` from inside the guard. */
    static native int returnFromGuard(int value, String fixedMessage) throws IOException;

    /** Leaves the Java error of FindClass(`missingClass`) pending, then throws a JNIException. */
    static native void throwOverPendingJavaError(String missingClass, String message, String fixedMessage)
        throws IOException;

    /** The uninitialise/command shape: throws a JNIException and a non-standard exception, reports nothing. */
    static native void swallowBoth(String message);
}
