package applet.utils.dravlo;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URI;
import java.net.URL;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Enumeration;
import java.util.List;
import java.util.Locale;
import java.util.TreeSet;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;

/**
 * Finds and loads the native library, once per class loader. {@link JogDialDriver} and {@link
 * KeyPadDriver} call {@link #load()} when they are first used, so a program need not call it; an
 * earlier call of its own only moves a failure to a place of its choosing.
 *
 * <p>Which file loads, in this order:
 *
 * <ol>
 *   <li>The file named by the system property {@code dravlo.library.path}, or the {@code
 *       Dravlo.dll} in the folder it names. Nothing else is tried then: a file that does not load
 *       is an error. The value {@code system} chooses the system's search (3.) instead.
 *   <li>Otherwise the copy this jar carries for the platform ({@code
 *       natives/windows-x86_64/Dravlo.dll}), extracted to a folder (below) and loaded from there. A
 *       {@code Dravlo.dll} of another version on {@code PATH}, on {@code java.library.path} or in
 *       the current folder is not looked at.
 *   <li>The system's search, only when the jar carries no copy for this platform, or when {@code
 *       dravlo.library.path} says {@code system}: the first {@code Dravlo.dll} in a folder of
 *       {@code java.library.path}, else whatever {@link System#loadLibrary(String)} finds (on a JVM
 *       that searches like Windows, the current folder and {@code PATH}).
 * </ol>
 *
 * <p>Where the jar's copy goes: into the folder named by the system property {@code
 * dravlo.extract.dir} when it is set, and nowhere else. Otherwise into {@code
 * %LOCALAPPDATA%\dravlo\<version>} (on other systems {@code ~/.cache/dravlo/<version>}), and when
 * that folder cannot be written or the library cannot be loaded from it (a policy that forbids
 * loading code from there, for example), into {@code <java.io.tmpdir>/dravlo-<user.name>/<version>}.
 * A copy already there is used only when its size and SHA-256 hash equal the jar's; otherwise a
 * fresh copy is written under a scratch name and renamed over it in one step, so JVMs that load at
 * the same time never see a partly written library, and a JVM that has the old file open keeps its
 * bytes. Scratch files that a JVM left behind when it died while extracting are removed once they
 * are a minute old.
 *
 * <p>{@code -Ddravlo.debug=true} prints each step of the search to standard error. {@link
 * #loadedFrom()} names the file that loaded. When nothing loads, the {@link UnsatisfiedLinkError}
 * names every place looked at and why each failed; on a platform the jar carries no copy for (not
 * Windows, or not 64-bit), it says in one line what the jar carries and what it found.
 *
 * <p>Extracting needs {@code java.nio.file} and {@code java.security.MessageDigest}. On a class
 * library without them (Avian's, for one) the loader uses {@code dravlo.library.path} or the
 * system's search instead, and its error says why the jar's copy was not used.
 */
public final class DravloLibrary {
    /** The library's name as {@link System#loadLibrary(String)} takes it. */
    public static final String NAME = "Dravlo";

    private static final String PATH_PROPERTY = "dravlo.library.path";
    private static final String EXTRACT_PROPERTY = "dravlo.extract.dir";
    private static final String DEBUG_PROPERTY = "dravlo.debug";

    private static boolean loaded;
    private static File loadedFrom;

    private DravloLibrary() {}

    /**
     * Loads the library unless this class already did. Safe to call from any thread, any number of
     * times.
     *
     * @throws UnsatisfiedLinkError when no copy could be loaded; the message names every place
     *     looked at and why each failed
     */
    public static synchronized void load() {
        if (loaded) return;
        loadedFrom = new Search().run();
        loaded = true;
    }

    /**
     * The file that {@link #load()} loaded.
     *
     * @return the file, or {@code null} before loading, and when {@link System#loadLibrary(String)}
     *     found the library by name (the JVM does not say which file that was)
     */
    public static synchronized File loadedFrom() { return loadedFrom; }

    /**
     * The jar resource that holds the library for this platform.
     *
     * @return for example {@code natives/windows-x86_64/Dravlo.dll}
     */
    public static String resourceName() {
        return "natives/" + platform() + "/" + System.mapLibraryName(NAME);
    }

    /**
     * The per-user folder the jar's copy is extracted to first when {@code dravlo.extract.dir} is
     * not set.
     *
     * @return {@code %LOCALAPPDATA%\dravlo\<version>} on Windows, {@code
     *     <user.home>/.cache/dravlo/<version>} elsewhere
     */
    public static File cacheFolder() {
        String base = isWindows() ? System.getenv("LOCALAPPDATA") : null;
        if (base == null) {
            String home = System.getProperty("user.home");
            base = isWindows() ? home + File.separator + "AppData" + File.separator + "Local"
                               : home + File.separator + ".cache";
        }
        return new File(new File(base, "dravlo"), version());
    }

    /**
     * This library's version, from the jar's manifest ({@code Implementation-Version}).
     *
     * @return the version, or {@code "unversioned"} when the classes do not come from the jar
     */
    public static String version() {
        Package own = DravloLibrary.class.getPackage();
        String version = own != null ? own.getImplementationVersion() : null;
        return version != null ? version : "unversioned";
    }

    private static String platform() {
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ENGLISH);
        if (arch.equals("amd64") || arch.equals("x86_64")) arch = "x86_64";
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ENGLISH);
        os = os.startsWith("windows") ? "windows" : os.startsWith("mac") ? "macos" : os.replace(' ', '_');
        return os + "-" + arch;
    }

    private static boolean isWindows() { return platform().startsWith("windows-"); }

    // One search for the library: what it tried, and what it says on the way.
    private static final class Search {
        private final boolean debug = "true".equalsIgnoreCase(System.getProperty(DEBUG_PROPERTY));
        private final List<String> tried = new ArrayList<String>();

        Search() {}

        File run() {
            String named = System.getProperty(PATH_PROPERTY);
            if ("system".equals(named)) {
                step(PATH_PROPERTY + "=system: the system's search");
                return systemSearch(null);
            }
            if (named != null && named.length() > 0) return named(named);
            step(PATH_PROPERTY + " not set");

            String resource = resourceName();
            URL packed = DravloLibrary.class.getResource("/" + resource);
            if (packed == null) {
                String carried = carriedPlatforms();
                step("jar resource " + resource + ": not in the class path"
                    + (carried != null ? " (the jar carries " + carried + ")" : ""));
                tried.add("jar resource " + resource + ": not in the class path");
                return systemSearch(carried);
            }
            String missing = missingForExtraction();
            if (missing != null) {
                String why = "jar resource " + resource + ": not extracted, this class library has no " + missing;
                step(why + "; the system's search instead");
                tried.add(why);
                return systemSearch(null);
            }
            return extracted(resource);
        }

        private File named(String value) {
            File file = new File(value);
            if (file.isDirectory()) file = new File(file, System.mapLibraryName(NAME));
            file = file.getAbsoluteFile();
            step(PATH_PROPERTY + "=" + value + ": " + file);
            try {
                System.load(file.getPath());
            } catch (UnsatisfiedLinkError unusable) {
                tried.add(PATH_PROPERTY + "=" + value + ": " + file + ": " + unusable.getMessage());
                throw failure();
            }
            step("loaded " + file);
            return file;
        }

        private File extracted(String resource) {
            byte[] image;
            try {
                image = readResource(resource);
            } catch (IOException unreadable) {
                tried.add("jar resource " + resource + ": " + unreadable.getMessage());
                throw failure();
            }
            step("jar resource " + resource + ": " + image.length + " bytes");
            for (File folder : extractFolders()) {
                File target = new File(folder, System.mapLibraryName(NAME)).getAbsoluteFile();
                try {
                    step(target + ": " + Extraction.extract(image, target));
                    System.load(target.getPath());
                } catch (IOException | LinkageError | SecurityException unusable) {
                    step(target + ": " + unusable);
                    tried.add("extracted copy " + target + ": " + unusable);
                    continue;
                }
                step("loaded " + target);
                return target;
            }
            throw failure();
        }

        // The first Dravlo.dll on java.library.path, else System.loadLibrary; `carried` names the
        // platforms the jar has copies for when it has none for this one.
        private File systemSearch(String carried) {
            String file = System.mapLibraryName(NAME);
            String path = System.getProperty("java.library.path");
            for (String folder : split(path)) {
                File candidate = new File(folder.length() == 0 ? "." : folder, file).getAbsoluteFile();
                if (!candidate.isFile()) continue;
                step("java.library.path: " + candidate);
                try {
                    System.load(candidate.getPath());
                    step("loaded " + candidate);
                    return candidate;
                } catch (UnsatisfiedLinkError unusable) {
                    tried.add("java.library.path: " + candidate + ": " + unusable.getMessage());
                }
            }
            if (path != null) tried.add("java.library.path " + path + ": no " + file);
            try {
                System.loadLibrary(NAME);
            } catch (UnsatisfiedLinkError notFound) {
                step("System.loadLibrary(\"" + NAME + "\"): " + notFound.getMessage());
                tried.add("System.loadLibrary(\"" + NAME + "\"): " + notFound.getMessage());
                if (carried != null) throw unsupported(carried, path, file);
                throw failure();
            }
            step("loaded by System.loadLibrary(\"" + NAME + "\")");
            return null;
        }

        private void step(String text) {
            if (debug) System.err.println("dravlo: " + text);
        }

        private UnsatisfiedLinkError failure() {
            StringBuilder text = new StringBuilder("Cannot load native library " + NAME + "; looked at:");
            for (String place : tried) text.append(File.separatorChar == '\\' ? "\r\n  " : "\n  ").append(place);
            return new UnsatisfiedLinkError(text.toString());
        }
    }

    // One line for a platform the jar has no copy for.
    private static UnsatisfiedLinkError unsupported(String carried, String libraryPath, String file) {
        return new UnsatisfiedLinkError("Cannot load native library " + NAME + ": the jar carries it for " + carried
            + " only, and this JVM is " + platform() + " (os.name " + System.getProperty("os.name") + ", os.arch "
            + System.getProperty("os.arch") + "); no " + file + " on java.library.path " + libraryPath + " either");
    }

    private static List<File> extractFolders() {
        String chosen = System.getProperty(EXTRACT_PROPERTY);
        if (chosen != null && chosen.length() > 0) return Arrays.asList(new File(chosen));
        File temporary = new File(System.getProperty("java.io.tmpdir"), "dravlo-" + System.getProperty("user.name"));
        return Arrays.asList(cacheFolder(), new File(temporary, version()));
    }

    // What extraction needs that this class library lacks, or null when it has everything.
    private static String missingForExtraction() {
        for (String needed : new String[] {"java.nio.file.Files", "java.security.MessageDigest"}) {
            try {
                Class.forName(needed);
            } catch (ClassNotFoundException | LinkageError absent) {
                return needed;
            }
        }
        return null;
    }

    // The platforms the jar holding this class carries a library for ("windows-x86_64"), or null
    // when the class does not come from a jar or the jar carries none.
    private static String carriedPlatforms() {
        try {
            String self = String.valueOf(DravloLibrary.class.getResource("DravloLibrary.class"));
            int end = self.indexOf("!/");
            if (!self.startsWith("jar:") || end < 0) return null;
            TreeSet<String> platforms = new TreeSet<String>();
            JarFile jar = new JarFile(new File(new URI(self.substring(4, end))));
            try {
                for (Enumeration<JarEntry> entries = jar.entries(); entries.hasMoreElements();) {
                    String[] parts = entries.nextElement().getName().split("/");
                    if (parts.length == 3 && parts[0].equals("natives") && parts[2].length() > 0)
                        platforms.add(parts[1]);
                }
            } finally {
                jar.close();
            }
            StringBuilder names = new StringBuilder();
            for (String platform : platforms) names.append(names.length() == 0 ? "" : ", ").append(platform);
            return names.length() == 0 ? null : names.toString();
        } catch (Exception | LinkageError unknown) {
            return null;
        }
    }

    private static List<String> split(String path) {
        List<String> folders = new ArrayList<String>();
        if (path == null) return folders;
        for (int start = 0;;) {
            int end = path.indexOf(File.pathSeparatorChar, start);
            folders.add(path.substring(start, end < 0 ? path.length() : end));
            if (end < 0) return folders;
            start = end + 1;
        }
    }

    // Writing the jar's copy to disk. Kept apart because it needs java.nio.file and MessageDigest,
    // which a class library may lack: nothing here is touched before missingForExtraction() said
    // that both are there.
    private static final class Extraction {
        // Scratch files this old were left by a JVM that died while extracting; a live JVM writes
        // and renames its own within milliseconds.
        private static final long STALE_MILLIS = 60000;

        private Extraction() {}

        // Leaves `file` holding exactly `image` and says what it did. Another JVM may be doing the
        // same at the same time: each writes a file of its own and renames it over the target, and
        // a rename is atomic, so the target is always either absent, the old file or a complete
        // copy, and whoever has the old file open keeps reading the old bytes.
        static String extract(byte[] image, File file) throws IOException {
            Path target = file.toPath();
            Path folder = target.getParent();
            Files.createDirectories(folder);
            removeStaleScratch(folder, target.getFileName().toString());
            byte[] digest = sha256(image);
            if (holds(target, image.length, digest)) return "intact copy of the jar's";
            Path scratch = Files.createTempFile(folder, target.getFileName().toString(), ".part");
            try {
                Files.write(scratch, image);
                try {
                    Files.move(scratch, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
                } catch (IOException inUse) {
                    // Windows refuses to replace a library another JVM has loaded; that copy is
                    // good when it holds the same bytes.
                    if (!holds(target, image.length, digest)) throw inUse;
                }
            } finally {
                Files.deleteIfExists(scratch);
            }
            if (!holds(target, image.length, digest))
                throw new IOException("does not hold the jar's copy after extraction");
            return "written from the jar";
        }

        private static void removeStaleScratch(Path folder, String name) throws IOException {
            long staleBefore = System.currentTimeMillis() - STALE_MILLIS;
            try (DirectoryStream<Path> scratches = Files.newDirectoryStream(folder, name + "*.part")) {
                for (Path scratch : scratches) {
                    try {
                        if (Files.getLastModifiedTime(scratch).toMillis() < staleBefore) Files.deleteIfExists(scratch);
                    } catch (IOException stillInUse) {
                        // another JVM's, or gone already: not ours to insist on
                    }
                }
            }
        }

        private static boolean holds(Path file, long size, byte[] digest) throws IOException {
            if (!Files.isRegularFile(file) || Files.size(file) != size) return false;
            return Arrays.equals(sha256(Files.readAllBytes(file)), digest);
        }

        private static byte[] sha256(byte[] bytes) {
            try {
                return MessageDigest.getInstance("SHA-256").digest(bytes);
            } catch (NoSuchAlgorithmException absent) {
                throw new IllegalStateException("every Java platform has SHA-256", absent);
            }
        }
    }

    private static byte[] readResource(String resource) throws IOException {
        InputStream in = DravloLibrary.class.getResourceAsStream("/" + resource);
        if (in == null) throw new IOException("not in the class path");
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            for (int n; (n = in.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return bytes.toByteArray();
        } finally {
            in.close();
        }
    }
}
