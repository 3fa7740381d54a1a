package dravlo.jvmtest;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.lang.reflect.Method;
import java.nio.file.attribute.AclEntry;
import java.nio.file.attribute.AclEntryFlag;
import java.nio.file.attribute.AclEntryPermission;
import java.nio.file.attribute.AclEntryType;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Comparator;
import java.util.List;
import java.util.jar.JarFile;
import java.util.stream.Stream;

/**
 * The jar's loader (DravloLibrary) in fresh JVMs: dravlo.library.path overrides (absolute only), the
 * jar's copy wins over a stray library on java.library.path, whose relative entries are never looked
 * at; a library that is not Dravlo of this version is refused; the copy is extracted into the
 * per-user versioned folder (or dravlo.extract.dir) only when every folder on the way is the user's
 * alone, reused only when it is intact, replaced in one step and never seen half written by JVMs
 * loading at the same time; a second class loader gets one clear error, never a second copy; a
 * driver class loads it by itself; when nothing is found the error names every place looked at and
 * how to name the file, in one line on a platform the jar has no copy for. The library is a
 * host-built stand-in named like Dravlo.dll.
 */
final class LoaderTests implements TestGroup {
    private final String java = System.getProperty("dravlo.loader.java");
    private final String harness = System.getProperty("dravlo.loader.harness");
    private final String jar = System.getProperty("dravlo.loader.jar");
    private final String contract = System.getProperty("dravlo.loader.contract");
    private final String pathCopy = System.getProperty("dravlo.loader.pathdir");
    private final String version = System.getProperty("dravlo.loader.version");
    private final String others = System.getProperty("dravlo.loader.others");
    private Path scratch;
    private Path nowhere;
    private byte[] jarCopy;
    private String resource;

    @Override
    public void run(Check check) throws Exception {
        scratch = Files.createTempDirectory("dravlo-loader");
        try {
            nowhere = Files.createDirectories(scratch.resolve("nowhere"));
            try (JarFile packed = new JarFile(jar)) {
                check.equal("jar manifest version", version,
                    packed.getManifest().getMainAttributes().getValue("Implementation-Version"));
                check.equal("jar manifest title", "Dravlo",
                    packed.getManifest().getMainAttributes().getValue("Implementation-Title"));
                resource = "natives/linux-x86_64/libDravlo.so";
                jarCopy = readAll(packed, resource);
            }
            overrides(check);
            extraction(check);
            hostile(check);
            concurrency(check);
            failures(check);
        } finally {
            try (Stream<Path> tree = Files.walk(scratch)) {
                tree.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
            }
        }
    }

    private void overrides(Check check) throws Exception {
        Path home = home("path");
        check.equal("a stray library on java.library.path: the jar's copy wins", "origin=jar from=" + extracted(home),
            child(home, pathCopy, jar));

        String stray = Paths.get(pathCopy, "libDravlo.so").toString();
        home = home("named");
        String[][] named = {{"a file", stray}, {"a folder", pathCopy}};
        for (String[] row : named) {
            check.equal("dravlo.library.path names " + row[0] + ": that copy", "origin=path from=" + stray,
                child(home, nowhere.toString(), jar, "-Ddravlo.library.path=" + row[1]));
        }
        check.equal("dravlo.library.path=system: java.library.path's copy", "origin=path from=" + stray,
            child(home, pathCopy, jar, "-Ddravlo.library.path=system"));
        String missing = child(home, pathCopy, jar, "-Ddravlo.library.path=" + nowhere);
        check.isTrue("dravlo.library.path naming no library: that is the error, nothing else is tried",
            missing.startsWith("error=Cannot load native library Dravlo")
                && missing.contains("dravlo.library.path=" + nowhere) && !missing.contains("java.library.path"));
        check.isTrue("dravlo.library.path: nothing extracted", !Files.exists(home.resolve(".cache")));

        // What the user reads when the file named is not one to load, with the file named once.
        Path text = Files.write(scratch.resolve("libDravlo.so"), "not a library".getBytes(StandardCharsets.UTF_8));
        String foreign = Paths.get(others, "foreign", "libDravlo.so").toString();
        String needs = ", and this jar needs libDravlo.so version " + version + ". Name the file to load with "
            + "-Ddravlo.library.path=<file or folder>.";
        String[][] refusals = {
            {"a folder that does not exist", nowhere.resolve("absent").toString(), ": no such file or folder"},
            {"a relative path", "libDravlo.so", "libDravlo.so: not an absolute path"},
            {"a file that is no library", text.toString(), text + ": not a library (not an ELF file)"},
            {"another library named like it", foreign,
                foreign + " is not a Dravlo library (or one older than 1.1.0, which does not state its version)" + needs},
            {"Dravlo of another version", Paths.get(others, "other", "libDravlo.so").toString(),
                Paths.get(others, "other", "libDravlo.so") + " is version 0.9.0" + needs},
        };
        for (String[] row : refusals) {
            // HotSpot may warn first about a file it could not map; the outcome is the last line.
            String[] lines = child(home, pathCopy, jar, "-Ddravlo.library.path=" + row[1]).split("\n");
            String error = lines[lines.length - 1];
            check.isTrue("dravlo.library.path names " + row[0] + ": " + error,
                error.startsWith("error=Cannot load native library Dravlo") && error.endsWith(row[2])
                    && error.indexOf(row[1]) == error.lastIndexOf(row[1]));
        }
        check.equal("the system's search finds another library named like it: refused, by its file",
            "error=Cannot load native library Dravlo: " + foreign
                + " is not a Dravlo library (or one older than 1.1.0, which does not state its version)" + needs,
            child(home, Paths.get(others, "foreign").toString(), jar, "-Ddravlo.library.path=system"));
        check.isTrue("the system's search: no relative entry of java.library.path looked at, no JVM search after it",
            output(command(home, ":.", jar, "-Ddravlo.library.path=system").directory(new File(pathCopy)).start())
                .contains("java.library.path :.: no libDravlo.so in an absolute folder"));
        check.equal("version() on the module path, where the manifest is not read", "version=" + version,
            output(new ProcessBuilder(java, "--module-path", jar, "--add-modules", "applet.utils.dravlo",
                "-Ddravlo.loader.versionOnly=true", "-cp", harness, "dravlo.jvmtest.LoaderChild")
                       .redirectErrorStream(true)
                       .start()));

        Path chosen = scratch.resolve("chosen");
        check.equal("dravlo.extract.dir: the jar's copy, extracted there",
            "origin=jar from=" + chosen.resolve("libDravlo.so"),
            child(home, nowhere.toString(), jar, "-Ddravlo.extract.dir=" + chosen));
        check.isTrue("dravlo.extract.dir: nothing in the per-user folder", !Files.exists(home.resolve(".cache")));
    }

    private void extraction(Check check) throws Exception {
        Path home = home("extract");
        Path extracted = extracted(home);
        check.equal("a driver class, load() never called: the jar's copy, extracted", "origin=jar from=" + extracted,
            child(home, nowhere.toString(), jar, "-Ddravlo.loader.implicit=true"));
        check.isTrue("extracted copy holds the jar's bytes", Arrays.equals(jarCopy, Files.readAllBytes(extracted)));

        FileTime old = FileTime.fromMillis(1_000_000_000_000L);
        Files.setLastModifiedTime(extracted, old);
        Path stale = Files.write(extracted.resolveSibling("libDravlo.so4711.part"), jarCopy);
        Files.setLastModifiedTime(stale, old);
        Path writing = Files.write(extracted.resolveSibling("libDravlo.so4712.part"), new byte[1]);
        check.equal("intact copy: loaded", "origin=jar from=" + extracted, child(home, nowhere.toString(), jar));
        check.equal("intact copy: not written again", old, Files.getLastModifiedTime(extracted));
        check.isTrue("a scratch file a dead JVM left: removed", !Files.exists(stale));
        check.isTrue("a scratch file being written: left alone", Files.exists(writing));
        Files.delete(writing);

        byte[][] damaged = {flipped(jarCopy), Arrays.copyOf(jarCopy, jarCopy.length / 2), new byte[0]};
        String[] damages = {"same size, other bytes", "truncated", "empty"};
        for (int i = 0; i < damaged.length; ++i) {
            Files.write(extracted, damaged[i]);
            try (InputStream held = Files.newInputStream(extracted)) {
                check.equal(damages[i] + " copy: replaced and loaded", "origin=jar from=" + extracted,
                    child(home, nowhere.toString(), jar));
                check.isTrue(damages[i] + " copy: replaced by the jar's bytes",
                    Arrays.equals(jarCopy, Files.readAllBytes(extracted)));
                check.isTrue(damages[i] + " copy: replaced in one step, the old file kept its bytes for its reader",
                    Arrays.equals(damaged[i], held.readAllBytes()));
            }
        }

        String debug = child(home("debug"), nowhere.toString(), jar, "-Ddravlo.debug=true");
        String[] lines = debug.split("\n");
        check.equal(
            "dravlo.debug: the outcome last", "origin=jar from=" + extracted(home("debug")), lines[lines.length - 1]);
        check.isTrue("dravlo.debug: each step before it, the file loaded among them",
            lines.length > 3 && Arrays.stream(lines, 0, lines.length - 1).allMatch(line -> line.startsWith("dravlo: "))
                && debug.contains("dravlo: loaded " + extracted(home("debug"))));
    }

    /**
     * Another user's hand on the way to the extracted copy, each refused with its reason and
     * dravlo.extract.dir as the way out, nothing written through it, nothing extracted anywhere
     * else: a folder that cannot be made, a link planted where a folder goes, a folder that others
     * can write, a copy that is a link, and (as root) a folder of another user's.
     */
    private void hostile(Check check) throws Exception {
        Path temporary = Files.createDirectories(scratch.resolve("tmp"));
        Path attacker = Files.createDirectories(scratch.resolve("attacker"));
        Files.write(attacker.resolve("libDravlo.so"), jarCopy);
        String[][] cases = {
            {"a file where the folder goes", ".cache", "file", "FileAlreadyExistsException: " + scratch},
            {"a link where the folder goes", ".cache/dravlo", "link", ".cache/dravlo is a link or junction"},
            {"a folder that others can write", ".cache/dravlo/" + version, "open",
                version + " can be written by others (rwxrwxrwx)"},
            {"a copy that is a link", ".cache/dravlo/" + version + "/libDravlo.so", "link",
                "libDravlo.so is a link or junction"},
            {"another user's folder", ".cache/dravlo", "nobody", ".cache/dravlo belongs to nobody"},
            {"another user's folder that all may write", ".cache/dravlo/" + version, "nobody",
                version + " belongs to nobody"},
        };
        for (String[] row : cases) {
            if (row[2].equals("nobody") && !"root".equals(System.getProperty("user.name"))) continue;
            Path home = home("hostile-" + row[2] + row[1].length());
            Path planted = home.resolve(row[1]);
            Files.createDirectories(planted.getParent());
            plant(row[2], planted, attacker);
            String error = child(home, nowhere.toString(), jar, "-Djava.io.tmpdir=" + temporary);
            check.isTrue(row[0] + ": refused, with its reason and the way out: " + error,
                error.startsWith("error=Cannot load native library Dravlo") && error.contains(row[3])
                    && error.contains("name a folder of this user's alone with -Ddravlo.extract.dir=<folder>"));
            try (Stream<Path> written = Stream.concat(Files.list(attacker), Files.list(temporary))) {
                check.equal(row[0] + ": nothing written through it, nor elsewhere", "[" + attacker.resolve("libDravlo.so") + "]",
                    Arrays.toString(written.toArray()));
            }
            if (row[2].equals("nobody")) {
                try (Stream<Path> left = Files.list(planted)) {
                    check.equal(row[0] + ": nothing made or removed in it", "[" + planted.resolve("libDravlo.so1.part") + "]",
                        Arrays.toString(left.toArray()));
                }
            }
        }
        // Windows' rule, read from an ACL: only an allowed, effective write by someone untrusted counts.
        UserPrincipal self = () -> "self";
        UserPrincipal users = () -> "Users";
        AclEntry[] acl = {
            acl(AclEntryType.ALLOW, self, AclEntryPermission.WRITE_DATA),
            acl(AclEntryType.ALLOW, users, AclEntryPermission.READ_DATA),
            acl(AclEntryType.DENY, users, AclEntryPermission.WRITE_DATA),
            acl(AclEntryType.ALLOW, users, AclEntryPermission.APPEND_DATA, AclEntryFlag.INHERIT_ONLY),
            acl(AclEntryType.ALLOW, () -> "Everyone", AclEntryPermission.DELETE_CHILD),
        };
        Method foreign = Class.forName("applet.utils.dravlo.Extraction").getDeclaredMethod("foreignWriters", List.class,
            Collection.class);
        foreign.setAccessible(true);
        check.equal("an ACL's writers besides the trusted: allowed, not only passed down", "[Everyone]",
            String.valueOf(foreign.invoke(null, Arrays.asList(acl), Arrays.asList(self))));

        Path home = home("created");
        child(home, nowhere.toString(), jar);
        check.equal("the folders made for the jar's copy: the owner's alone", "rwx------ rwx------",
            PosixFilePermissions.toString(Files.getPosixFilePermissions(home.resolve(".cache/dravlo"))) + " "
                + PosixFilePermissions.toString(Files.getPosixFilePermissions(extracted(home).getParent())));
    }

    private static AclEntry acl(AclEntryType type, UserPrincipal who, AclEntryPermission what, AclEntryFlag... flags) {
        return AclEntry.newBuilder().setType(type).setPrincipal(who).setPermissions(what).setFlags(flags).build();
    }

    private static void plant(String what, Path where, Path attacker) throws Exception {
        switch (what) {
        case "file":
            Files.write(where, new byte[0]);
            break;
        case "link":
            boolean file = where.getFileName().toString().equals("libDravlo.so");
            Files.createSymbolicLink(where, file ? attacker.resolve("libDravlo.so") : attacker);
            break;
        case "open":
            Files.setPosixFilePermissions(Files.createDirectories(where), PosixFilePermissions.fromString("rwxrwxrwx"));
            break;
        default:
            // Open to all, with a scratch file of a dead JVM's in it: as the loader's own would be.
            Files.setPosixFilePermissions(Files.createDirectories(where), PosixFilePermissions.fromString("rwxrwxrwx"));
            Files.setLastModifiedTime(Files.write(where.resolve("libDravlo.so1.part"), new byte[0]), FileTime.fromMillis(0));
            Files.setOwner(where, where.getFileSystem().getUserPrincipalLookupService().lookupPrincipalByName(what));
        }
    }

    private void concurrency(Check check) throws Exception {
        Path twice = home("twice");
        check.equal("two class loaders: one loads, the other gets one clear error, and there is one copy",
            "first=loaded second=" + secondLoader(extracted(twice)),
            child(twice, nowhere.toString(), harness, "-Ddravlo.loader.twoLoaders=" + jar));
        try (Stream<Path> left = Files.list(extracted(twice).getParent())) {
            check.equal("two class loaders: one copy", 1L, left.count());
        }
        // Four at once. Over classes without the jar's copy, one that the JVM refused a folder's
        // library must not take the next folder's; over the jar, in a fresh home, none may fail
        // on a folder that another has just made.
        int otherwise = 0;
        for (int round = 0; round < 10; ++round) {
            String met = child(twice, pathCopy + ":" + Paths.get(others, "jar"), harness, "-Ddravlo.loader.atOnce=" + contract);
            Path fresh = home("at-once-" + round);
            String extracting = child(fresh, nowhere.toString(), harness, "-Ddravlo.loader.atOnce=" + jar);
            if (!met.equals("{" + secondLoader(Paths.get(pathCopy, "libDravlo.so")) + "=3, loaded=1}")) ++otherwise;
            if (!extracting.equals("{" + secondLoader(extracted(fresh)) + "=3, loaded=1}")) ++otherwise;
        }
        check.equal("four class loaders at once: rounds (of 20) without one copy and three clear errors", 0, otherwise);

        Path home = home("race");
        Path extracted = extracted(home);
        List<Process> racers = new ArrayList<>();
        for (int i = 0; i < 6; ++i) racers.add(start(home, nowhere.toString(), jar));
        for (Process racer : racers) {
            check.equal("JVMs loading at once: each loads the jar's copy", "origin=jar from=" + extracted,
                output(racer));
        }
        try (Stream<Path> left = Files.list(extracted.getParent())) {
            check.equal("JVMs loading at once: one file left, no scratch copies", 1L, left.count());
        }
    }

    private void failures(Check check) throws Exception {
        String error = child(home("none"), nowhere.toString(), contract);
        check.isTrue("nowhere: UnsatisfiedLinkError", error.startsWith("error=Cannot load native library Dravlo"));
        check.isTrue("nowhere: names java.library.path", error.contains("java.library.path " + nowhere));
        check.isTrue("nowhere: names the jar resource", error.contains("jar resource " + resource + ": not in the class path"));
        check.isTrue("nowhere: says how to name the file", error.endsWith("|  Name the file to load with "
            + "-Ddravlo.library.path=<file or folder>."));

        String other = child(home("x86"), nowhere.toString(), jar, "-Dos.arch=x86");
        check.isTrue("32-bit JVM: one line", other.startsWith("error=") && other.indexOf('|') < 0);
        check.isTrue("32-bit JVM: what the jar carries and what was found",
            other.contains("the jar carries it for linux-x86_64 only, and this JVM is linux-x86 (")
                && other.contains("os.arch x86)"));
    }

    private static String secondLoader(Path file) {
        return "Cannot load native library Dravlo: " + file + " is loaded already by another class loader of this JVM,"
            + " and a JVM lets only one class loader have a native library. Put the jar on the application class path,"
            + " where the system class loader loads it once for the whole JVM.";
    }

    private Path extracted(Path home) { return home.resolve(".cache/dravlo/" + version + "/libDravlo.so"); }

    private Path home(String name) throws Exception { return Files.createDirectories(scratch.resolve(name)); }

    private String child(Path home, String libraryPath, String classes, String... options) throws Exception {
        return output(start(home, libraryPath, classes, options));
    }

    private Process start(Path home, String libraryPath, String classes, String... options) throws Exception {
        return command(home, libraryPath, classes, options).start();
    }

    private ProcessBuilder command(Path home, String libraryPath, String classes, String... options) {
        List<String> command =
            new ArrayList<>(Arrays.asList(java, "-Duser.home=" + home, "-Djava.library.path=" + libraryPath));
        command.addAll(Arrays.asList(options));
        command.addAll(Arrays.asList("-cp", harness + ":" + classes, "dravlo.jvmtest.LoaderChild"));
        return new ProcessBuilder(command).redirectErrorStream(true);
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
