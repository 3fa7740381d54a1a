package applet.utils.dravlo;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileInputStream;
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
 * <p>Whatever loads, the loader then asks it for its version. A library that is not Dravlo.dll of
 * this jar's {@link #version()} (another library named like it, or Dravlo.dll of another version)
 * is refused with an {@link UnsatisfiedLinkError} that names the file, the version found or "not a
 * Dravlo library", the version expected, and {@code dravlo.library.path} as the way to choose. The
 * JVM keeps a library it has loaded, so every later {@link #load()} in the same class loader is
 * refused the same way, and no native method is ever bound to it.
 *
 * <p>{@code -Ddravlo.debug=true} prints each step of the search to standard error, and the file
 * that loaded, also when the system's search found it. {@link #loadedFrom()} names that file. When nothing loads, the {@link UnsatisfiedLinkError}
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
    // Why the library that loaded was refused. It stays in this class loader, so every later
    // load() is refused the same way instead of binding natives to it.
    private static String refused;

    private DravloLibrary() {}

    /**
     * Loads the library unless this class already did, and checks that it is the version of this
     * jar. Safe to call from any thread, any number of times.
     *
     * @throws UnsatisfiedLinkError when no copy could be loaded (the message names every place looked
     *     at and why each failed), or when the library that loaded is not Dravlo.dll of this jar's
     *     version (the message names the file, the version found or "not a Dravlo library", the
     *     version expected, and {@code dravlo.library.path} as the way to choose the file); every
     *     later call then throws the same
     */
    public static synchronized void load() {
        if (loaded) return;
        if (refused != null) throw new UnsatisfiedLinkError(refused);
        Search search = new Search();
        File file = search.run();
        String found = identify();
        if (!version().equals(found)) {
            refused = refusal(file, found);
            search.step(refused);
            throw new UnsatisfiedLinkError(refused);
        }
        if (file == null) file = nativeFileOrNull();
        search.step("loaded " + (file != null ? file : "by name") + ", Dravlo " + found);
        loadedFrom = file;
        loaded = true;
    }

    /**
     * The file that {@link #load()} loaded.
     *
     * @return the file, also when the system's search found it; {@code null} before loading, and
     *     when the library cannot tell its own file name (a path longer than 259 characters)
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
     * This library's version: the jar's, its manifest's {@code Implementation-Version}, and the
     * version that {@link #load()} requires of the native library.
     *
     * @return the version, for example {@code "1.1.0"}, wherever the classes come from (the class
     *     path, the module path, any JVM)
     */
    public static String version() { return LibraryVersion.VERSION; }

    /**
     * The COM reason why the last driver initialisation on the calling thread failed, for example
     * "creating the Axis jog dial object: 0x80040154 Class not registered"; null when it met no COM
     * failure or nothing is loaded. The handles make it the cause of their exception.
     */
    static String lastComFailureOrNull() {
        try {
            return lastComFailure();
        } catch (LinkageError notLoaded) {
            return null;
        }
    }

    // The natives every Dravlo.dll since 1.1.0 has; another library named like it has none.
    private static native String nativeVersion();

    private static native String nativeFile();

    private static native String lastComFailure();

    // The version the loaded library states, or null when it states none.
    private static String identify() {
        try {
            return nativeVersion();
        } catch (UnsatisfiedLinkError notOurs) {
            return null;
        }
    }

    private static File nativeFileOrNull() {
        try {
            String name = nativeFile();
            return name != null ? new File(name) : null;
        } catch (UnsatisfiedLinkError absent) {
            return null;
        }
    }

    // Why the library that loaded from `file` (null: found by name) cannot be used.
    private static String refusal(File file, String found) {
        String which = file != null ? file.getPath()
                                    : "the " + System.mapLibraryName(NAME) + " that the system's search found";
        String what = found == null ? "is not a Dravlo library (or one older than 1.1.0, which does not state its version)"
                                    : "is version " + found;
        return "Cannot load native library " + NAME + ": " + which + " " + what + ", and this jar needs "
            + System.mapLibraryName(NAME) + " version " + version() + ". Name the file to load with -D"
            + PATH_PROPERTY + "=<file or folder>.";
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
        private boolean named;

        Search() {}

        // The file that loaded, or null when System.loadLibrary found it by name.
        File run() {
            String value = System.getProperty(PATH_PROPERTY);
            named = value != null && value.length() > 0;
            if ("system".equals(value)) {
                step(PATH_PROPERTY + "=system: the system's search");
                return systemSearch(null);
            }
            if (named) return named(value);
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
                String chosen = System.getProperty(EXTRACT_PROPERTY);
                if (chosen != null && chosen.length() > 0) {
                    // Asked for in so many words: ignoring it without a word would mislead.
                    why += " (" + EXTRACT_PROPERTY + "=" + chosen + " is ignored)";
                    System.err.println("dravlo: " + why + "; the system's search instead");
                }
                step(why + "; the system's search instead");
                tried.add(why);
                return systemSearch(null);
            }
            return extracted(resource);
        }

        private File named(String value) {
            File file = new File(value);
            String place = PATH_PROPERTY + "=" + value;
            if (!file.exists()) {
                tried.add(place + ": no such file or folder");
                throw failure();
            }
            if (file.isDirectory()) {
                file = new File(file, System.mapLibraryName(NAME));
                if (!file.isFile()) {
                    tried.add(place + ": the folder holds no " + System.mapLibraryName(NAME));
                    throw failure();
                }
            }
            file = file.getAbsoluteFile();
            if (!file.getPath().equals(value)) place += ": " + file;
            step(place);
            try {
                System.load(file.getPath());
            } catch (UnsatisfiedLinkError unusable) {
                tried.add(place + ": " + whyNotLoaded(file, unusable));
                throw failure();
            }
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
                    return candidate;
                } catch (UnsatisfiedLinkError unusable) {
                    tried.add("java.library.path: " + candidate + ": " + whyNotLoaded(candidate, unusable));
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
            step("found by System.loadLibrary(\"" + NAME + "\")");
            return null;
        }

        void step(String text) {
            if (debug) System.err.println("dravlo: " + text);
        }

        private UnsatisfiedLinkError failure() {
            String lineEnd = File.separatorChar == '\\' ? "\r\n  " : "\n  ";
            StringBuilder text = new StringBuilder("Cannot load native library " + NAME + "; looked at:");
            for (String place : tried) text.append(lineEnd).append(place);
            if (!named) {
                text.append(lineEnd).append("Name the file to load with -D" + PATH_PROPERTY + "=<file or folder>.");
            }
            return new UnsatisfiedLinkError(text.toString());
        }
    }

    // Why `file`, which exists, did not load: a file that is no library at all says so, since the
    // JVM's own words for it are often those of a missing file.
    private static String whyNotLoaded(File file, UnsatisfiedLinkError unusable) {
        byte[] start = new byte[4];
        int read = 0;
        try {
            InputStream in = new FileInputStream(file);
            try {
                for (int n; read < start.length && (n = in.read(start, read, start.length - read)) > 0;) read += n;
            } finally {
                in.close();
            }
        } catch (IOException unreadable) {
            return "cannot be read (" + unreadable.getMessage() + ")";
        }
        boolean dll = read >= 2 && start[0] == 'M' && start[1] == 'Z';
        boolean elf = read == 4 && start[0] == 0x7f && start[1] == 'E' && start[2] == 'L' && start[3] == 'F';
        if (isWindows() && !dll) return "not a library (not a Windows DLL)";
        if (platform().startsWith("linux-") && !elf) return "not a library (not an ELF file)";
        return unusable.getMessage();
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
