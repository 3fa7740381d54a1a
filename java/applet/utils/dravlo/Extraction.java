package applet.utils.dravlo;

import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.AccessDeniedException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.AclEntry;
import java.nio.file.attribute.AclEntryFlag;
import java.nio.file.attribute.AclEntryPermission;
import java.nio.file.attribute.AclEntryType;
import java.nio.file.attribute.AclFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.nio.file.attribute.UserPrincipal;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Collections;
import java.util.EnumSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;

/**
 * Writing the jar's copy of the library to disk and loading it, on a machine where another user
 * may plant a link on the way, own or be able to write a folder on it, or swap the file between
 * its check and its load.
 *
 * <p>Only folders and files that the current user owns and nobody else can write are used: every
 * folder below the base (which must exist: {@code %LOCALAPPDATA%}, {@code ~/.cache}, or the parent
 * of {@code dravlo.extract.dir}) and the file itself. A link, a junction or another user's folder on
 * the way is refused before anything is written through it; missing folders are created for the
 * owner alone. The copy's hash is then checked through a handle that stays open until the JVM has
 * loaded the file, and on Windows that handle denies others writing, renaming and deleting it, so
 * the file loaded is the file checked. "Nobody else can write" means the POSIX group and other
 * write bits are clear, or, with Windows ACLs, that every principal allowed to write may also write
 * the user's own {@code %LOCALAPPDATA%} (the user, the system, administrators).
 *
 * <p>Needs {@code java.nio.file} and {@code MessageDigest}, which a class library may lack:
 * nothing here is touched before {@link DravloLibrary} checked that both are there.
 */
final class Extraction {
    // Scratch files this old were left by a JVM that died while extracting; a live JVM writes and
    // renames its own within milliseconds.
    private static final long STALE_MILLIS = 60000;

    private static final Set<AclEntryPermission> WRITING = EnumSet.of(AclEntryPermission.WRITE_DATA,
        AclEntryPermission.APPEND_DATA, AclEntryPermission.DELETE_CHILD, AclEntryPermission.DELETE,
        AclEntryPermission.WRITE_ACL, AclEntryPermission.WRITE_OWNER);

    /** A folder or file on the way that must not be used; the message says why. */
    static final class Refused extends IOException {
        private static final long serialVersionUID = 1L;

        Refused(Path path, String why) { super(path + " " + why); }
    }

    private Extraction() {}

    /**
     * Leaves `file` holding exactly `image`, loads it with {@link System#load(String)} while it is
     * held open as checked, and says what it did. Another JVM may be doing the same at the same
     * time: each writes a scratch file of its own and renames it over the target, and a rename is
     * atomic, so the target is always either absent, the old file or a complete copy.
     *
     * @throws IOException when the folder cannot be used (a {@link Refused} one: it is not this
     *     user's alone)
     * @throws LinkageError what {@link System#load(String)} threw
     */
    static String extractAndLoad(byte[] image, Path base, Path file) throws IOException {
        Path folder = file.getParent();
        List<Path> way = below(base, folder);
        // The base is the user's own (%LOCALAPPDATA%, ~/.cache) or the one chosen; a fresh home
        // may lack ~/.cache.
        Files.createDirectories(base);
        String name = file.getFileName().toString();
        UserPrincipal self = ownerOfNew(base, name);
        Set<UserPrincipal> trusted = trustedWriters(base);
        trusted.add(self);
        // From the top down, each folder checked before anything is made or removed in it; once
        // checked, nobody else can change what is in it.
        for (Path step : way) {
            try {
                if (!Files.exists(step, LinkOption.NOFOLLOW_LINKS)) createOwnerOnly(step, trusted);
            } catch (FileAlreadyExistsException madeMeanwhile) {
                // by another JVM or class loader extracting at the same moment, or by someone else:
                // the check decides
            }
            refuseForeign(step, self, trusted);
        }
        removeStaleScratch(folder, name);
        Path scratch = Files.createTempFile(folder, name, ".part");
        try {
            byte[] digest = sha256(image);
            if (loadIfHolds(file, digest, self, trusted)) return "intact copy of the jar's, loaded";
            Files.write(scratch, image);
            try {
                Files.move(scratch, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (IOException inUse) {
                // Windows refuses to replace a library another JVM has loaded; that copy is good
                // when it holds the same bytes, which the load below checks.
            }
            if (loadIfHolds(file, digest, self, trusted)) return "written from the jar, loaded";
            throw new IOException("does not hold the jar's copy after extraction");
        } finally {
            Files.deleteIfExists(scratch);
        }
    }

    /**
     * The principals that may write here besides the owner, as "may write" is read from `acl`: the
     * names of those allowed to write that are not `trusted`. Entries that only pass down to
     * children, and denials, are not looked at.
     */
    static List<String> foreignWriters(List<AclEntry> acl, Collection<UserPrincipal> trusted) {
        List<String> foreign = new ArrayList<String>();
        for (AclEntry entry : acl) {
            if (!allowsWriting(entry) || entry.flags().contains(AclEntryFlag.INHERIT_ONLY)) continue;
            if (!trusted.contains(entry.principal())) foreign.add(entry.principal().getName());
        }
        return foreign;
    }

    private static boolean allowsWriting(AclEntry entry) {
        return entry.type() == AclEntryType.ALLOW && !Collections.disjoint(entry.permissions(), WRITING);
    }

    // The folders from below `base` down to `folder`, `base` itself excluded.
    private static List<Path> below(Path base, Path folder) throws IOException {
        if (!folder.startsWith(base) || folder.equals(base)) throw new Refused(folder, "is not below " + base);
        List<Path> way = new ArrayList<Path>();
        for (Path step = folder; !step.equals(base); step = step.getParent()) way.add(0, step);
        return way;
    }

    private static void refuseLink(Path path) throws IOException {
        if (!Files.exists(path, LinkOption.NOFOLLOW_LINKS)) return;
        BasicFileAttributes attributes =
            Files.readAttributes(path, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        // A junction or another reparse point is "other" to Java on Windows.
        if (attributes.isSymbolicLink() || attributes.isOther()) throw new Refused(path, "is a link or junction");
    }

    private static void refuseForeign(Path path, UserPrincipal self, Set<UserPrincipal> trusted) throws IOException {
        refuseLink(path);
        UserPrincipal owner = Files.getOwner(path, LinkOption.NOFOLLOW_LINKS);
        if (!owner.equals(self)) throw new Refused(path, "belongs to " + owner.getName() + ", not to " + self.getName());
        PosixFileAttributeView posix = Files.getFileAttributeView(path, PosixFileAttributeView.class, LinkOption.NOFOLLOW_LINKS);
        if (posix != null) {
            Set<PosixFilePermission> permissions = posix.readAttributes().permissions();
            if (permissions.contains(PosixFilePermission.GROUP_WRITE)
                || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
                throw new Refused(path, "can be written by others (" + PosixFilePermissions.toString(permissions) + ")");
            }
        }
        AclFileAttributeView acl = Files.getFileAttributeView(path, AclFileAttributeView.class, LinkOption.NOFOLLOW_LINKS);
        if (acl != null) {
            List<String> foreign = foreignWriters(acl.getAcl(), trusted);
            if (!foreign.isEmpty()) throw new Refused(path, "can be written by " + foreign);
        }
    }

    // Who owns what this JVM creates: what Windows or POSIX calls this user (an elevated
    // administrator's files belong to the administrators, for one). Asked of an empty file made
    // where that harms no one, in the base or else in the temporary folder, not on the way.
    private static UserPrincipal ownerOfNew(Path base, String name) throws IOException {
        Path probe;
        try {
            probe = Files.createTempFile(base, name, ".part");
        } catch (AccessDeniedException readOnly) {
            probe = Files.createTempFile(name, ".part");
        }
        try {
            return Files.getOwner(probe, LinkOption.NOFOLLOW_LINKS);
        } finally {
            Files.delete(probe);
        }
    }

    // Who may write the user's own base folder: they may write what goes below it too.
    private static Set<UserPrincipal> trustedWriters(Path base) throws IOException {
        Set<UserPrincipal> trusted = new LinkedHashSet<UserPrincipal>();
        AclFileAttributeView acl = Files.getFileAttributeView(reference(base), AclFileAttributeView.class);
        if (acl == null) return trusted;
        for (AclEntry entry : acl.getAcl()) {
            if (allowsWriting(entry)) trusted.add(entry.principal());
        }
        return trusted;
    }

    // %LOCALAPPDATA% on Windows, whatever the base; the base elsewhere.
    private static Path reference(Path base) {
        String local = System.getenv("LOCALAPPDATA");
        return local != null && new File(local).isDirectory() ? new File(local).toPath() : base;
    }

    private static void createOwnerOnly(Path folder, Set<UserPrincipal> trusted) throws IOException {
        if (Files.getFileStore(folder.getParent()).supportsFileAttributeView(PosixFileAttributeView.class)) {
            Files.createDirectory(folder, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
            return;
        }
        Files.createDirectory(folder);
        AclFileAttributeView acl = Files.getFileAttributeView(folder, AclFileAttributeView.class);
        if (acl == null || trusted.isEmpty()) return;
        List<AclEntry> entries = new ArrayList<AclEntry>();
        for (UserPrincipal principal : trusted) {
            entries.add(AclEntry.newBuilder()
                            .setType(AclEntryType.ALLOW)
                            .setPrincipal(principal)
                            .setPermissions(EnumSet.allOf(AclEntryPermission.class))
                            .setFlags(AclEntryFlag.FILE_INHERIT, AclEntryFlag.DIRECTORY_INHERIT)
                            .build());
        }
        acl.setAcl(entries);
    }

    private static void removeStaleScratch(Path folder, String name) throws IOException {
        long staleBefore = System.currentTimeMillis() - STALE_MILLIS;
        try (DirectoryStream<Path> scratches = Files.newDirectoryStream(folder, name + "*.part")) {
            for (Path scratch : scratches) {
                try {
                    if (Files.getLastModifiedTime(scratch, LinkOption.NOFOLLOW_LINKS).toMillis() < staleBefore)
                        Files.deleteIfExists(scratch);
                } catch (IOException stillInUse) {
                    // another JVM's, or gone already: not ours to insist on
                }
            }
        }
    }

    /**
     * When `file` is this user's alone and holds the bytes of `digest`, loads it and returns true;
     * false when it is absent or holds other bytes. The hash is read through a handle that stays
     * open until the load has returned and, on Windows, lets nobody write, rename or delete it.
     */
    private static boolean loadIfHolds(Path file, byte[] digest, UserPrincipal self, Set<UserPrincipal> trusted)
        throws IOException {
        if (!Files.exists(file, LinkOption.NOFOLLOW_LINKS)) return false;
        refuseForeign(file, self, trusted);
        FileChannel held;
        try {
            held = FileChannel.open(file, heldOpen());
        } catch (FileSystemException inUse) {
            return false;  // another writer has it open: write ours, or fail after that
        }
        try {
            MessageDigest hash = newSha256();
            ByteBuffer buffer = ByteBuffer.allocate(65536);
            while (held.read(buffer) > 0) {
                buffer.flip();
                hash.update(buffer);
                buffer.clear();
            }
            if (!Arrays.equals(hash.digest(), digest)) return false;
            System.load(file.toString());
            return true;
        } finally {
            held.close();
        }
    }

    // Read, no link followed, and on Windows (the JDK's own options) nobody else writing or
    // deleting while it is open.
    private static Set<OpenOption> heldOpen() {
        Set<OpenOption> options = new LinkedHashSet<OpenOption>();
        options.add(StandardOpenOption.READ);
        options.add(LinkOption.NOFOLLOW_LINKS);
        if (File.separatorChar == '\\') {
            for (String option : new String[] {"NOSHARE_WRITE", "NOSHARE_DELETE"}) {
                OpenOption extended = extendedOption(option);
                if (extended != null) options.add(extended);
            }
        }
        return options;
    }

    private static OpenOption extendedOption(String name) {
        try {
            Class<?> type = Class.forName("com.sun.nio.file.ExtendedOpenOption");
            for (Object constant : type.getEnumConstants()) {
                if (((Enum<?>) constant).name().equals(name)) return (OpenOption) constant;
            }
        } catch (ClassNotFoundException | LinkageError | SecurityException absent) {
            // another JDK: the owner-only folder is the guard
        }
        return null;
    }

    private static byte[] sha256(byte[] bytes) { return newSha256().digest(bytes); }

    private static MessageDigest newSha256() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException absent) {
            throw new IllegalStateException("every Java platform has SHA-256", absent);
        }
    }
}
