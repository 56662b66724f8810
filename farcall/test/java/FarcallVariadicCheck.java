import com.tamsor.cobol.rununit.Farcall;

/**
 * Variadic targets called with few arguments, cCall0 to cCall5 and stdCall0
 * to stdCall5, through the virtual machine's own native calls: the
 * standard entries whose arguments all travel in registers. A variadic
 * target may store every argument register into its caller's frame (on
 * ppc64le, into the parameter save area, which such a caller need not
 * provide); the virtual machine must come out of it intact, with every
 * result and printed text right, a collection and the calls repeated.
 * Arguments: libFarcall, the call targets, test libraries A and B, and the
 * number of rounds.
 */
public final class FarcallVariadicCheck {
    private FarcallVariadicCheck() {
    }

    public static void main(String[] args) {
        Farcall.load(args[0]);
        FarcallChecks.check(Farcall.open(args[1]) != 0, "open of the call targets");
        FarcallChecks.check(Farcall.open("libc.so.6") != 0, "open of libc");
        int rounds = Integer.parseInt(args[4]);
        long print = FarcallChecks.symbol("farcall_test_print");
        long printConstant = FarcallChecks.symbol("farcall_test_print_constant");
        long printed = Farcall.cCall0(FarcallChecks.symbol("farcall_test_printed"));
        long strcmp = FarcallChecks.symbol("strcmp");

        String[] formats = {null, "no conversion", "%ld", "%ld|%lx", "%ld|%lx|%lu", "%ld|%lx|%lu|%ld"};
        String[] texts = {"printed without arguments", "no conversion", "-1234567890123",
            "-1234567890123|fedcba9876543210", "-1234567890123|fedcba9876543210|18446744073709551615",
            "-1234567890123|fedcba9876543210|18446744073709551615|-9223372036854775808"};
        long[] formatStrings = new long[formats.length];
        long[] textStrings = new long[texts.length];
        for (int n = 0; n < formats.length; n++) {
            formatStrings[n] = formats[n] == null ? 0 : FarcallChecks.nativeString(formats[n]);
            textStrings[n] = FarcallChecks.nativeString(texts[n]);
        }
        long a = -1234567890123L;
        long b = 0xFEDCBA9876543210L;
        long c = -1L;
        long d = Long.MIN_VALUE;

        for (int round = 0; round < rounds; round++) {
            for (int n = 0; n <= 5; n++) {
                long f = formatStrings[n];
                long[] lengths;
                if (n == 0) {
                    lengths = new long[] {Farcall.cCall0(printConstant), Farcall.stdCall0(printConstant)};
                } else if (n == 1) {
                    lengths = new long[] {Farcall.cCall1(f, print), Farcall.stdCall1(f, print)};
                } else if (n == 2) {
                    lengths = new long[] {Farcall.cCall2(f, a, print), Farcall.stdCall2(f, a, print)};
                } else if (n == 3) {
                    lengths = new long[] {Farcall.cCall3(f, a, b, print), Farcall.stdCall3(f, a, b, print)};
                } else if (n == 4) {
                    lengths = new long[] {Farcall.cCall4(f, a, b, c, print), Farcall.stdCall4(f, a, b, c, print)};
                } else {
                    lengths = new long[] {Farcall.cCall5(f, a, b, c, d, print), Farcall.stdCall5(f, a, b, c, d, print)};
                }
                for (long length : lengths) {
                    FarcallChecks.checkEqual((int) length, texts[n].length(), "cCall" + n + " printed length");
                }
                FarcallChecks.checkEqual((int) Farcall.cCall2(printed, textStrings[n], strcmp), 0,
                        "cCall" + n + " printed text");
            }
            if (round == 0) {
                System.gc();
            }
        }
        FarcallChecks.finish("FarcallVariadicCheck");
    }
}
