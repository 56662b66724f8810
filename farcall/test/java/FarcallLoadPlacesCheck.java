import com.tamsor.cobol.rununit.Farcall;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;

/**
 * Where Farcall.load() copies the jar's library, run with some of its places
 * on a file system mounted noexec (check_load_places.sh arranges them).
 * Arguments: where the library must end up mapped from (a directory in which
 * load() makes its own), or "nowhere" when every place must fail; a noexec
 * directory to name in farcall.tmpdir first, which must fail alone although
 * the later places would do, or "-"; then the places, each of which must be
 * an empty directory afterwards and, when nothing loads, named in the error
 * with the noexec hint.
 */
public final class FarcallLoadPlacesCheck {
    private FarcallLoadPlacesCheck() {
    }

    private static UnsatisfiedLinkError loadFailure() {
        try {
            Farcall.load();
            return null;
        } catch (UnsatisfiedLinkError e) {
            return e;
        }
    }

    /** The file libFarcall is mapped from, as /proc/self/maps shows it. */
    private static String mappedLibFarcall() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/maps"))) {
            int slash = line.indexOf('/');
            if (slash >= 0 && line.contains("/libFarcall.so")) return line.substring(slash);
        }
        return null;
    }

    private static List<Path> entries(Path directory) throws IOException {
        try (Stream<Path> entries = Files.list(directory)) {
            return entries.toList();
        }
    }

    public static void main(String[] args) throws IOException {
        String expected = args[0];
        String explicit = args[1];
        List<String> places = List.of(args).subList(2, args.length);

        if (!explicit.equals("-")) {
            System.setProperty("farcall.tmpdir", explicit);
            UnsatisfiedLinkError failure = loadFailure();
            FarcallChecks.check(failure != null, "load() through farcall.tmpdir " + explicit + " failed");
            if (failure != null) {
                String message = failure.getMessage();
                FarcallChecks.check(message.contains("farcall.tmpdir " + explicit + ": cannot load the copy")
                        && message.contains("mounted noexec") && message.split("\n").length == 2,
                        "the error names farcall.tmpdir alone: " + message);
            }
            System.clearProperty("farcall.tmpdir");
        }

        UnsatisfiedLinkError failure = loadFailure();
        if (expected.equals("nowhere")) {
            FarcallChecks.check(failure != null, "load() failed everywhere");
            String message = failure == null ? "" : failure.getMessage();
            String[] lines = message.split("\n");
            FarcallChecks.checkEqual(lines.length, places.size() + 1, "one line per place tried: " + message);
            for (String place : places) {
                boolean named = false;
                for (String line : lines) {
                    named |= line.contains(" " + place + ": cannot load the copy") && line.contains("mounted noexec");
                }
                FarcallChecks.check(named, place + " is in the error with the noexec hint: " + message);
            }
        } else {
            FarcallChecks.check(failure == null, "load() succeeded: " + failure);
            String mapped = mappedLibFarcall();
            FarcallChecks.check(mapped != null && mapped.startsWith(expected + "/farcall")
                    && mapped.endsWith("/libFarcall.so (deleted)"),
                    "libFarcall is mapped from a removed copy in " + expected + ": " + mapped);
            FarcallChecks.check(Farcall.open("libc.so.6") != 0, "open of libc");
            FarcallChecks.checkEqual(Farcall.cCall0(FarcallChecks.symbol("getpid")), ProcessHandle.current().pid(),
                    "getpid");
        }
        for (String place : places) {
            Path directory = Path.of(place);
            FarcallChecks.check(Files.isDirectory(directory) && entries(directory).isEmpty(),
                    "nothing left in " + place + ": " + (Files.isDirectory(directory) ? entries(directory) : "missing"));
        }
        FarcallChecks.finish("FarcallLoadPlacesCheck");
    }
}
