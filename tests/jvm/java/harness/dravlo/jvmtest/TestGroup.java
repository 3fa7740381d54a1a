package dravlo.jvmtest;

/** One group of real-JVM checks, run as its own CTest test: {@code Main <Group>} loads {@code <Group>Tests}. */
interface TestGroup {
    void run(Check check) throws Exception;
}
