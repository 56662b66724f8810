import static com.tamsor.cobol.rununit.Farcall.cCall0;
import static com.tamsor.cobol.rununit.Farcall.close;
import static com.tamsor.cobol.rununit.Farcall.findSymbol;
import static com.tamsor.cobol.rununit.Farcall.open;

import com.tamsor.cobol.rununit.Farcall;
import java.util.Arrays;

/**
 * The registry in a real virtual machine.
 * Arguments: libFarcall, the call targets, test libraries A and B.
 */
public final class FarcallRegistryCheck {
    private FarcallRegistryCheck() {
    }

    private static void checkNames(String[] got, String[] expected, String what) {
        FarcallChecks.check(Arrays.equals(got, expected),
                what + ": got " + Arrays.toString(got) + ", expected " + Arrays.toString(expected));
    }

    /** Which test library answers for farcall_test_shared now: 'A', 'B' or 0. */
    private static long sharedAnswer() {
        long address = findSymbol("farcall_test_shared");
        return address == 0 ? 0 : cCall0(address);
    }

    /** The load methods: a platform without a library, then loading once only. */
    private static void loading(String libFarcall, String otherLibrary) {
        String arch = System.getProperty("os.arch");
        System.setProperty("os.arch", "sparcv9");
        try {
            Farcall.load();
            FarcallChecks.check(false, "load() for a platform the jar has no library for");
        } catch (UnsatisfiedLinkError e) {
            FarcallChecks.check(e.getMessage().contains("linux-sparcv9")
                    && e.getMessage().contains("/com/tamsor/cobol/rununit/linux-sparcv9/libFarcall.so"),
                    "the error names the platform and the resource: " + e.getMessage());
        } finally {
            System.setProperty("os.arch", arch);
        }

        Farcall.load(libFarcall);
        Farcall.load(libFarcall);
        Farcall.load();
        Farcall.loadFromLibraryPath();
        try {
            Farcall.load(otherLibrary);
            FarcallChecks.check(false, "a second, different libFarcall was loaded");
        } catch (IllegalStateException e) {
            FarcallChecks.check(e.getMessage().contains(otherLibrary), "the refusal names the file: " + e.getMessage());
        }
    }

    public static void main(String[] args) {
        loading(args[0], args[1]);
        String libraryA = args[2];
        String libraryB = args[3];
        String dottedA = libraryA.substring(0, libraryA.lastIndexOf('/')) + "/."
                + libraryA.substring(libraryA.lastIndexOf('/'));

        // paths: the same string twice, another spelling, unloadable, null
        long a = open(libraryA);
        FarcallChecks.check(a != 0, "open of library A");
        FarcallChecks.checkEqual(open(libraryA), a, "second open of the same path");
        long dotted = open(dottedA);
        FarcallChecks.check(dotted != 0 && dotted != a, "another spelling is another handle");
        FarcallChecks.checkEqual(open("/nonexistent/libnothing.so"), 0, "unloadable path");
        FarcallChecks.checkEqual(open(null), 0, "open(null)");
        FarcallChecks.checkEqual(findSymbol(null), 0, "findSymbol(null)");
        FarcallChecks.check(close(dotted) == null, "close of a library without symbols");
        FarcallChecks.check(close(dotted) == null, "close of a closed handle");
        FarcallChecks.check(close(0) == null, "close(0)");

        // the first opened library wins, the other answers once it is closed
        long b = open(libraryB);
        FarcallChecks.checkEqual(sharedAnswer(), 'A', "shared name from the first library");
        long b1 = findSymbol("farcall_test_b1");
        FarcallChecks.check(b1 != 0, "name only in B");
        FarcallChecks.checkEqual(findSymbol("farcall_test_b1"), b1, "cached name, same address");
        checkNames(close(a), new String[] {"farcall_test_shared"}, "close of A");
        FarcallChecks.checkEqual(sharedAnswer(), 'B', "shared name from B after A closed");
        FarcallChecks.checkEqual(findSymbol("farcall_test_a1"), 0, "A's name after A closed");

        // close reports names in resolution order, wherever they stand
        a = open(libraryA);
        for (String name : new String[] {"farcall_test_a1", "farcall_test_b2", "farcall_test_a2",
                "farcall_test_a3"}) {
            FarcallChecks.check(findSymbol(name) != 0, "resolve " + name);
        }
        checkNames(close(b), new String[] {"farcall_test_b1", "farcall_test_shared", "farcall_test_b2"},
                "close of B");
        FarcallChecks.checkEqual(findSymbol("farcall_test_b2"), 0, "B's name after B closed");
        FarcallChecks.checkEqual(sharedAnswer(), 'A', "shared name resolved again, now in A");
        checkNames(close(a), new String[] {"farcall_test_a1", "farcall_test_a2", "farcall_test_a3",
                "farcall_test_shared"}, "close of A, second time");
        FarcallChecks.checkEqual(findSymbol("farcall_test_a1"), 0, "nothing listed any more");

        FarcallChecks.finish("FarcallRegistryCheck");
    }
}
