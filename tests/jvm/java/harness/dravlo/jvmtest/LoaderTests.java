package dravlo.jvmtest;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.jar.JarFile;
import java.util.stream.Stream;

/**
 * The jar's loader (DravloLibrary) in fresh JVMs: the library on java.library.path wins; otherwise
 * the jar's copy is extracted into the per-user versioned folder, reused only when it is intact,
 * and never seen half written by JVMs loading at the same time; when nothing is found the error
 * names every place looked at. The library is a host-built stand-in named like Dravlo.dll.
 */
final class LoaderTests implements TestGroup {
    private final String java = System.getProperty("dravlo.loader.java");
    private final String harness = System.getProperty("dravlo.loader.harness");
    private final String jar = System.getProperty("dravlo.loader.jar");
    private final String contract = System.getProperty("dravlo.loader.contract");
    private final String pathCopy = System.getProperty("dravlo.loader.pathdir");
    private final String version = System.getProperty("dravlo.loader.version");
    private Path scratch;
    private byte[] jarCopy;
    private String resource;

    @Override
    public void run(Check check) throws Exception {
        scratch = Files.createTempDirectory("dravlo-loader");
        try {
            runIn(check);
        } finally {
            try (Stream<Path> tree = Files.walk(scratch)) {
                tree.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
            }
        }
    }

    private void runIn(Check check) throws Exception {
        Path nowhere = Files.createDirectories(scratch.resolve("nowhere"));
        try (JarFile packed = new JarFile(jar)) {
            check.equal("jar manifest version", version,
                packed.getManifest().getMainAttributes().getValue("Implementation-Version"));
            check.equal("jar manifest title", "Dravlo",
                packed.getManifest().getMainAttributes().getValue("Implementation-Title"));
            resource = "natives/linux-x86_64/libDravlo.so";
            jarCopy = readAll(packed, resource);
        }

        Path home = home("path");
        check.equal("on java.library.path: that copy, nothing extracted", "origin=path from=null",
            child(home, pathCopy, jar));
        check.isTrue("on java.library.path: no folder made", !Files.exists(home.resolve(".cache")));

        home = home("extract");
        Path extracted = home.resolve(".cache/dravlo/" + version + "/libDravlo.so");
        check.equal("not on the path: the jar's copy, extracted", "origin=jar from=" + extracted,
            child(home, nowhere.toString(), jar));
        check.isTrue("extracted copy holds the jar's bytes", Arrays.equals(jarCopy, Files.readAllBytes(extracted)));

        FileTime old = FileTime.fromMillis(1_000_000_000_000L);
        Files.setLastModifiedTime(extracted, old);
        check.equal("intact copy: loaded", "origin=jar from=" + extracted, child(home, nowhere.toString(), jar));
        check.equal("intact copy: not written again", old, Files.getLastModifiedTime(extracted));

        byte[][] damaged = {flipped(jarCopy), Arrays.copyOf(jarCopy, jarCopy.length / 2), new byte[0]};
        String[] damages = {"same size, other bytes", "truncated", "empty"};
        for (int i = 0; i < damaged.length; ++i) {
            Files.write(extracted, damaged[i]);
            check.equal(damages[i] + " copy: replaced and loaded", "origin=jar from=" + extracted,
                child(home, nowhere.toString(), jar));
            check.isTrue(damages[i] + " copy: replaced by the jar's bytes",
                Arrays.equals(jarCopy, Files.readAllBytes(extracted)));
        }

        home = home("race");
        extracted = home.resolve(".cache/dravlo/" + version + "/libDravlo.so");
        List<Process> racers = new ArrayList<>();
        for (int i = 0; i < 6; ++i) racers.add(start(home, nowhere.toString(), jar));
        for (Process racer : racers) {
            check.equal("JVMs loading at once: each loads the jar's copy", "origin=jar from=" + extracted,
                output(racer));
        }
        try (Stream<Path> left = Files.list(extracted.getParent())) {
            check.equal("JVMs loading at once: one file left, no scratch copies", 1L, left.count());
        }

        String error = child(home("none"), nowhere.toString(), contract);
        check.isTrue("nowhere: UnsatisfiedLinkError", error.startsWith("error=Cannot load native library Dravlo"));
        check.isTrue("nowhere: names java.library.path", error.contains("java.library.path " + nowhere));
        check.isTrue("nowhere: names the jar resource", error.contains("jar resource " + resource + ": not in the class path"));
    }

    private Path home(String name) throws Exception { return Files.createDirectories(scratch.resolve(name)); }

    private String child(Path home, String libraryPath, String classes) throws Exception {
        return output(start(home, libraryPath, classes));
    }

    private Process start(Path home, String libraryPath, String classes) throws Exception {
        return new ProcessBuilder(java, "-Duser.home=" + home, "-Djava.library.path=" + libraryPath, "-cp",
            harness + ":" + classes, "dravlo.jvmtest.LoaderChild")
            .redirectErrorStream(true)
            .start();
    }

    private static String output(Process process) throws Exception {
        StringBuilder text = new StringBuilder();
        try (BufferedReader lines =
                 new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line; (line = lines.readLine()) != null;) text.append(text.length() == 0 ? "" : "\n").append(line);
        }
        process.waitFor();
        return text.toString();
    }

    private static byte[] readAll(JarFile jar, String entry) throws Exception {
        return jar.getInputStream(jar.getEntry(entry)).readAllBytes();
    }

    private static byte[] flipped(byte[] bytes) {
        byte[] copy = bytes.clone();
        copy[copy.length / 2] ^= 0x5a;
        return copy;
    }
}
