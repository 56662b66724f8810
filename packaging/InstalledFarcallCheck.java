import com.tamsor.cobol.rununit.Farcall;

/**
 * Run from an installed jar: the library installed with it answers calls.
 * Argument: how to load it, "installed" (loadInstalled, by the path relative
 * to the jar) or "library-path" (loadFromLibraryPath).
 */
public class InstalledFarcallCheck {
    public static void main(String[] args) {
        switch (args[0]) {
            case "installed" -> Farcall.loadInstalled();
            case "library-path" -> Farcall.loadFromLibraryPath();
            default -> throw new IllegalArgumentException("installed or library-path: " + args[0]);
        }
        long libc = Farcall.open("libc.so.6");
        long getpid = Farcall.findSymbol("getpid");
        if (libc == 0 || getpid == 0) throw new AssertionError("libc or getpid not found");
        long pid = Farcall.cCall0(getpid);
        if (pid != ProcessHandle.current().pid()) throw new AssertionError("getpid gave " + pid);
        String[] dropped = Farcall.close(libc);
        if (dropped == null || dropped.length != 1 || !dropped[0].equals("getpid"))
            throw new AssertionError("close dropped " + java.util.Arrays.toString(dropped));
        System.out.println("installed Farcall works (" + args[0] + "): pid " + pid);
    }
}
