import com.tamsor.cobol.rununit.Farcall;

/** Run from an installed jar: the library installed with it answers calls. */
public class InstalledFarcallCheck {
    public static void main(String[] args) {
        Farcall.loadInstalled();
        long libc = Farcall.open("libc.so.6");
        long getpid = Farcall.findSymbol("getpid");
        if (libc == 0 || getpid == 0) throw new AssertionError("libc or getpid not found");
        long pid = Farcall.cCall0(getpid);
        if (pid != ProcessHandle.current().pid()) throw new AssertionError("getpid gave " + pid);
        String[] dropped = Farcall.close(libc);
        if (dropped == null || dropped.length != 1 || !dropped[0].equals("getpid"))
            throw new AssertionError("close dropped " + java.util.Arrays.toString(dropped));
        System.out.println("installed Farcall works: pid " + pid);
    }
}
