package example;

import com.tamsor.cobol.rununit.Farcall;

/** Asks libc who runs this program, through the jar's own libFarcall. */
public final class LibcHello {
    private LibcHello() {
    }

    public static void main(String[] args) {
        Farcall.load();
        long libc = Farcall.open("libc.so.6");
        long getuid = Farcall.findSymbol("getuid");
        if (libc == 0 || getuid == 0) {
            throw new IllegalStateException("libc or its getuid not found");
        }
        // getuid returns a 32-bit uid_t: the upper half of the result is not its.
        long uid = Farcall.cCall0(getuid) & 0xFFFFFFFFL;
        System.out.println("libc's getuid says " + uid);
        Farcall.close(libc);
    }
}
