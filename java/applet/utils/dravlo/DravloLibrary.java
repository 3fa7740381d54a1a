package applet.utils.dravlo;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URI;
import java.net.URL;
import java.util.ArrayList;
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
 *   <li>The file that another class loader of this JVM loaded already (the system property {@code
 *       dravlo.library.loaded}), since a second copy of the library would have drivers of its own.
 *       While that class loader lives, the JVM refuses to let another have it: the {@link
 *       UnsatisfiedLinkError} says so, and that the jar belongs on the application class path.
 *   <li>The file named by the system property {@code dravlo.library.path} (an absolute path), or
 *       the {@code Dravlo.dll} in the folder it names. Nothing else is tried then: a file that does
 *       not load is an error. The value {@code system} chooses the system's search (4.) instead.
 *   <li>Otherwise the copy this jar carries for the platform ({@code
 *       natives/windows-x86_64/Dravlo.dll}), extracted to a folder (below) and loaded from there. A
 *       {@code Dravlo.dll} of another version on {@code PATH}, on {@code java.library.path} or in
 *       the current folder is not looked at.
 *   <li>The system's search, only when the jar carries no copy for this platform, or when {@code
 *       dravlo.library.path} says {@code system}: the first {@code Dravlo.dll} in an absolute folder
 *       of {@code java.library.path} (an empty or relative entry, which means the current folder,
 *       is not looked at); on a JVM without {@code java.library.path} (Avian), whatever {@link
 *       System#loadLibrary(String)} finds (the Windows search: the program's folder, the current
 *       folder, {@code PATH}).
 * </ol>
 *
 * <p>Where the jar's copy goes: into the folder named by the system property {@code
 * dravlo.extract.dir} (an absolute path) when it is set, otherwise into {@code
 * %LOCALAPPDATA%\dravlo\<version>} (on other systems {@code ~/.cache/dravlo/<version>}), and
 * nowhere else. Every folder on the way below {@code %LOCALAPPDATA%} (or below the parent of {@code
 * dravlo.extract.dir}), and the file, must belong to the current user and be writable by nobody
 * else: a link, a junction, another user's folder or one that others can write is refused, with the
 * reason and {@code dravlo.extract.dir} as the way out, before anything is written through it.
 * Missing folders are created for the owner alone. A copy already there is used only when its
 * SHA-256 hash equals the jar's, read through a handle that stays open until the JVM has loaded the
 * file (on Windows denying others writing and deleting it), so the file loaded is the file checked.
 * The folders above are trusted, not checked: name a {@code dravlo.extract.dir} whose parent
 * nobody else may rename things in.
 * Otherwise a fresh copy is written under a scratch name and renamed over it in one step, so JVMs
 * that load at the same time never see a partly written library, and a JVM that has the old file
 * open keeps its bytes. Scratch files that a JVM left behind when it died while extracting are
 * removed once they are a minute old.
 *
 * <p>Whatever loads, the loader then asks it for its version. A library that is not Dravlo.dll of
 * this jar's {@link #version()} (another library named like it, or Dravlo.dll of another version)
 * is refused with an {@link UnsatisfiedLinkError} that names the file, the version found or "not a
 * Dravlo library", the version expected, and {@code dravlo.library.path} as the way to choose. The
 * JVM keeps a library it has loaded, so every later {@link #load()} in the same class loader is
 * refused the same way, and no native method is ever bound to it.
 *
 * <p>{@code -Ddravlo.debug=true} prints each step of the search to standard error, and the file
 * that loaded, also when the system's search found it. {@link #loadedFrom()} names that file. When
 * nothing loads, the {@link UnsatisfiedLinkError} names every place looked at and why each failed;
 * on a platform the jar carries no copy for (not Windows, or not 64-bit), it says in one line what
 * the jar carries and what it found.
 *
 * <p>Extracting needs {@code java.nio.file} and {@code java.security.MessageDigest}. On a class
 * library without them (Avian's, for one) the loader uses {@code dravlo.library.path} or the
 * system's search instead, and its error says why the jar's copy was not used.
 */
public final class DravloLibrary {
    /** The library's name as {@link System#loadLibrary(String)} takes it. */
    public static final String NAME = "Dravlo";

    private static final String PATH_PROPERTY = "dravlo.library.path";
    private static final String SUGGEST_PATH = "Name the file to load with -D" + PATH_PROPERTY + "=<file or folder>.";
    private static final String EXTRACT_PROPERTY = "dravlo.extract.dir";
    private static final String DEBUG_PROPERTY = "dravlo.debug";
    // Set once a class loader of this JVM has loaded the library: the file. A JVM lets one class
    // loader have a native library, and a second copy of it would have drivers of its own, so
    // every other class loader takes that file too, or is refused by the JVM.
    private static final String LOADED_PROPERTY = "dravlo.library.loaded";

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
        if (file != null) System.setProperty(LOADED_PROPERTY, file.getPath());
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
     * failure, nothing is loaded or it cannot be read. The handles make it the cause of their
     * exception.
     */
    static String lastComFailureOrNull() {
        try {
            return lastComFailure();
        } catch (Throwable unreadable) {
            // Not loaded, or an Error while it was read (out of memory): the failure it would
            // explain is still thrown, and the owner thread that asks must still tear down.
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
            + System.mapLibraryName(NAME) + " version " + version() + ". " + SUGGEST_PATH;
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
        // Whether the error may suggest dravlo.library.path: not when it was set, nor when the
        // file another class loader loaded is what counts.
        private boolean suggestPath = true;

        Search() {}

        // The file that loaded, or null when System.loadLibrary found it by name.
        File run() {
            String earlier = property(LOADED_PROPERTY);
            if (earlier != null) return alreadyLoaded(new File(earlier));
            String value = property(PATH_PROPERTY);
            suggestPath = value == null;
            if ("system".equals(value)) {
                step(PATH_PROPERTY + "=system: the system's search");
                return systemSearch(null);
            }
            if (value != null) return named(value);
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
                String chosen = property(EXTRACT_PROPERTY);
                if (chosen != null) {
                    // Asked for in so many words: ignoring it without a word would mislead.
                    why += " (" + EXTRACT_PROPERTY + "=" + chosen + " is ignored)";
                    System.err.println("dravlo: " + why + "; the system's search instead");
                } else {
                    step(why + "; the system's search instead");
                }
                tried.add(why);
                return systemSearch(null);
            }
            return extracted(resource);
        }

        // The file another class loader of this JVM loaded: the same again, or the JVM's refusal.
        private File alreadyLoaded(File file) {
            step(LOADED_PROPERTY + "=" + file + ": loaded in this JVM already");
            suggestPath = false;
            UnsatisfiedLinkError refused = loadOnce(file);
            if (refused != null) {
                tried.add(LOADED_PROPERTY + "=" + file + ": " + whyNotLoaded(file, refused));
                throw failure();
            }
            return file;
        }

        private File named(String value) {
            File file = new File(value);
            String place = PATH_PROPERTY + "=" + value;
            if (!file.isAbsolute()) {
                // Relative to whatever the current folder is: another user's, for all we know.
                tried.add(place + ": not an absolute path");
                throw failure();
            }
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
            UnsatisfiedLinkError unusable = loadOnce(file);
            if (unusable != null) {
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
            String chosen = property(EXTRACT_PROPERTY);
            File folder = extractFolder(chosen);
            String how = "; name a folder of this user's alone with -D" + EXTRACT_PROPERTY + "=<folder>";
            if (folder == null) {
                tried.add("the jar's copy: " + EXTRACT_PROPERTY + " and the version (" + version()
                    + ") must name an absolute folder" + how);
                throw failure();
            }
            File target = new File(folder, System.mapLibraryName(NAME));
            File base = chosen != null ? folder.getParentFile() : folder.getParentFile().getParentFile();
            try {
                step(target + ": " + Extraction.extractAndLoad(image, base.toPath(), target.toPath()));
            } catch (IOException | SecurityException unusable) {
                step(target + ": " + unusable);
                String why = unusable instanceof Extraction.Refused ? unusable.getMessage() : unusable.toString();
                tried.add("extracted copy " + target + ": " + why + how);
                throw failure();
            } catch (UnsatisfiedLinkError unloadable) {
                if (heldByOtherClassLoader(unloadable)) throw otherClassLoader(target);
                tried.add("extracted copy " + target + ": " + unloadable.getMessage());
                throw failure();
            }
            return target;
        }

        // The first Dravlo.dll on java.library.path, else System.loadLibrary; `carried` names the
        // platforms the jar has copies for when it has none for this one.
        private File systemSearch(String carried) {
            String file = System.mapLibraryName(NAME);
            String path = System.getProperty("java.library.path");
            for (String folder : split(path)) {
                // An empty or relative entry means the current folder, which may be anyone's.
                if (!new File(folder).isAbsolute()) {
                    step("java.library.path entry \"" + folder + "\": not absolute, not looked at");
                    continue;
                }
                File candidate = new File(folder, file);
                if (!candidate.isFile()) continue;
                step("java.library.path: " + candidate);
                UnsatisfiedLinkError unusable = loadOnce(candidate);
                if (unusable == null) return candidate;
                tried.add("java.library.path: " + candidate + ": " + whyNotLoaded(candidate, unusable));
            }
            if (path != null) {
                // The JVM's own search would look at the same folders, and at the relative ones.
                tried.add("java.library.path " + path + ": no " + file + " in an absolute folder");
                if (carried != null) throw unsupported(carried, path, file);
                throw failure();
            }
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
            if (suggestPath) {
                text.append(lineEnd).append(SUGGEST_PATH);
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

    // A system property's value, or null when it is not set or empty.
    private static String property(String name) {
        String value = System.getProperty(name);
        return value != null && value.length() > 0 ? value : null;
    }

    // Where the jar's copy goes: `chosen` (dravlo.extract.dir), else the per-user cache folder;
    // null when that would not be an absolute folder named as it should be.
    private static File extractFolder(String chosen) {
        if (!version().matches("[A-Za-z0-9._-]+") || version().matches("\\.+")) return null;
        File folder = chosen != null ? new File(chosen) : cacheFolder();
        return folder.isAbsolute() && folder.getParentFile() != null ? folder : null;
    }

    // System.load: null when `file` loaded, else why not. The JVM's refusal to give this class
    // loader a library that another one has is thrown instead: a search that went on would load a
    // second copy from another folder.
    private static UnsatisfiedLinkError loadOnce(File file) {
        try {
            System.load(file.getPath());
            return null;
        } catch (UnsatisfiedLinkError unusable) {
            if (heldByOtherClassLoader(unusable)) throw otherClassLoader(file);
            return unusable;
        }
    }

    private static boolean heldByOtherClassLoader(UnsatisfiedLinkError refused) {
        return refused.getMessage() != null && refused.getMessage().contains("another classloader");
    }

    // One line for a second class loader: what the JVM allows, and what to do.
    private static UnsatisfiedLinkError otherClassLoader(File file) {
        return new UnsatisfiedLinkError("Cannot load native library " + NAME + ": " + file
            + " is loaded already by another class loader of this JVM, and a JVM lets only one class loader have"
            + " a native library. Put the jar on the application class path, where the system class loader loads"
            + " it once for the whole JVM.");
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
