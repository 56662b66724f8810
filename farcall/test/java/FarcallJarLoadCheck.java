import com.tamsor.cobol.rununit.Farcall;

/**
 * The jar alone: Farcall.load() takes the library the jar carries, and a
 * libc call answers through it. Prints one line, and nothing else unless a
 * check fails, so a run can be read for what the virtual machine adds.
 */
public final class FarcallJarLoadCheck {
    private FarcallJarLoadCheck() {
    }

    public static void main(String[] args) {
        Farcall.load();
        FarcallChecks.check(Farcall.open("libc.so.6") != 0, "open of libc");
        FarcallChecks.checkEqual(Farcall.cCall0(FarcallChecks.symbol("getpid")), ProcessHandle.current().pid(),
                "getpid through the jar's library");
        FarcallChecks.finish("FarcallJarLoadCheck");
    }
}
