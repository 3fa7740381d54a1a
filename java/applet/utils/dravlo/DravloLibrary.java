package applet.utils.dravlo;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Loads the native library once per class loader: {@code System.loadLibrary("Dravlo")} first, so
 * a library installed on {@code java.library.path} wins; otherwise the copy in this jar, under
 * {@code natives/<os>-<arch>/} (for example {@code natives/windows-x86_64/Dravlo.dll}).
 *
 * <p>The jar's copy is extracted into a per-user folder named by the jar's version ({@code
 * %LOCALAPPDATA%\dravlo\<version>} on Windows, {@code ~/.cache/dravlo/<version>} elsewhere) and
 * loaded from there. A file already there is used only when its size and SHA-256 hash equal the
 * jar's copy; otherwise a fresh copy is written under a temporary name and moved over it in one
 * step, so JVMs that load at the same time never see a partly written library.
 */
public final class DravloLibrary {
    /** The library's name as {@link System#loadLibrary(String)} takes it. */
    public static final String NAME = "Dravlo";

    private static Path loadedFrom;
    private static boolean loaded;

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
        List<String> tried = new ArrayList<>();
        try {
            System.loadLibrary(NAME);
            loaded = true;
            return;
        } catch (UnsatisfiedLinkError notOnPath) {
            tried.add("java.library.path " + System.getProperty("java.library.path") + ": "
                + notOnPath.getMessage());
        }
        String resource = resourceName();
        byte[] image;
        try {
            image = readResource(resource);
        } catch (IOException unreadable) {
            tried.add("jar resource " + resource + ": " + unreadable.getMessage());
            throw failure(tried);
        }
        Path target = cacheFolder().resolve(System.mapLibraryName(NAME));
        try {
            extract(image, target);
            System.load(target.toAbsolutePath().toString());
        } catch (IOException | UnsatisfiedLinkError unusable) {
            tried.add("extracted copy " + target + ": " + unusable);
            throw failure(tried);
        }
        loadedFrom = target;
        loaded = true;
    }

    /**
     * The file {@link #load()} loaded, when it extracted the jar's copy.
     *
     * @return the extracted file, or {@code null} before loading or when {@code System.loadLibrary}
     *     found the library
     */
    public static synchronized Path loadedFrom() { return loadedFrom; }

    /**
     * The jar resource that holds the library for this platform.
     *
     * @return for example {@code natives/windows-x86_64/Dravlo.dll}
     */
    public static String resourceName() {
        return "natives/" + platform() + "/" + System.mapLibraryName(NAME);
    }

    /**
     * The per-user folder for the extracted library of this version.
     *
     * @return {@code %LOCALAPPDATA%\dravlo\<version>} on Windows, {@code
     *     <user.home>/.cache/dravlo/<version>} elsewhere
     */
    public static Path cacheFolder() {
        String base = isWindows() ? System.getenv("LOCALAPPDATA") : null;
        Path root = base != null ? Paths.get(base, "dravlo")
                                 : Paths.get(System.getProperty("user.home"), isWindows() ? "AppData/Local" : ".cache",
                                     "dravlo");
        return root.resolve(version());
    }

    /**
     * This library's version, from the jar's manifest ({@code Implementation-Version}).
     *
     * @return the version, or {@code "unversioned"} when the classes do not come from the jar
     */
    public static String version() {
        String version = DravloLibrary.class.getPackage().getImplementationVersion();
        return version != null ? version : "unversioned";
    }

    private static String platform() {
        String arch = System.getProperty("os.arch");
        if (arch.equals("amd64") || arch.equals("x86_64")) arch = "x86_64";
        String os = System.getProperty("os.name").toLowerCase(java.util.Locale.ROOT);
        os = os.startsWith("windows") ? "windows" : os.startsWith("mac") ? "macos" : os.replace(' ', '_');
        return os + "-" + arch;
    }

    private static boolean isWindows() { return platform().startsWith("windows-"); }

    private static byte[] readResource(String resource) throws IOException {
        InputStream in = DravloLibrary.class.getClassLoader().getResourceAsStream(resource);
        if (in == null) throw new IOException("not in the class path");
        try (InputStream stream = in) {
            java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            for (int n; (n = stream.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return bytes.toByteArray();
        }
    }

    // Leaves `target` holding exactly `image`. Another JVM may be doing the same at the same time:
    // each writes a file of its own and renames it over the target, and a rename is atomic, so the
    // target is always either absent, the old file or a complete copy.
    private static void extract(byte[] image, Path target) throws IOException {
        if (holds(target, image)) return;
        Files.createDirectories(target.getParent());
        Path scratch = Files.createTempFile(target.getParent(), target.getFileName().toString(), ".part");
        try {
            try (OutputStream out = Files.newOutputStream(scratch)) {
                out.write(image);
            }
            try {
                Files.move(scratch, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException inUse) {
                // Windows refuses to replace a library another JVM has loaded; that copy is good
                // when it holds the same bytes.
                if (!holds(target, image)) throw inUse;
            }
        } finally {
            Files.deleteIfExists(scratch);
        }
        if (!holds(target, image)) throw new IOException("does not hold the jar's copy after extraction");
    }

    private static boolean holds(Path file, byte[] image) throws IOException {
        if (!Files.isRegularFile(file) || Files.size(file) != image.length) return false;
        return Arrays.equals(sha256(Files.readAllBytes(file)), sha256(image));
    }

    private static byte[] sha256(byte[] bytes) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(bytes);
        } catch (NoSuchAlgorithmException absent) {
            throw new IllegalStateException("every Java platform has SHA-256", absent);
        }
    }

    private static UnsatisfiedLinkError failure(List<String> tried) {
        StringBuilder text = new StringBuilder("Cannot load native library " + NAME + "; looked at:");
        for (String place : tried) text.append(File.separatorChar == '\\' ? "\r\n  " : "\n  ").append(place);
        return new UnsatisfiedLinkError(text.toString());
    }
}
