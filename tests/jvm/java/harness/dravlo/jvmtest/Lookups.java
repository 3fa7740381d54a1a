package dravlo.jvmtest;

import java.io.IOException;

/**
 * JniLookup operations, each run inside the entry-point guard exactly as the library's exported
 * natives run them: a failed lookup arrives as java.io.IOException. Each returns true when the
 * lookup yielded a non-null identifier or class.
 */
final class Lookups {
    private Lookups() {}

    static native boolean findClass(String className) throws IOException;

    static native boolean fieldId(String className, String field, String signature) throws IOException;

    static native boolean methodId(String className, String method, String signature) throws IOException;

    static native boolean methodIdOn(Object object, String method, String signature) throws IOException;
}
