import com.tamsor.cobol.rununit.Farcall;
import java.lang.reflect.Method;
import java.util.SplittableRandom;

/**
 * Every call trampoline through the virtual machine's standard JNI calls.
 * Arguments: libFarcall, the call targets, test libraries A and B.
 */
public final class FarcallCallCheck {
    private static final String[] FAMILIES = {"cCall", "stdCall"};

    private FarcallCallCheck() {
    }

    /** Argument sets with every bit in play: random words and signed-range edges. */
    static long[][] argumentSets() {
        long[][] sets = new long[2][FarcallChecks.MAX_ARITY];
        SplittableRandom random = new SplittableRandom(42);
        long[] edges = {-1L, Long.MIN_VALUE, Long.MAX_VALUE, 0xFFFFFFFF00000000L, 0x00000000FFFFFFFFL,
                0x8000000080000000L};
        for (int k = 0; k < FarcallChecks.MAX_ARITY; k++) {
            sets[0][k] = random.nextLong();
            sets[1][k] = edges[k % edges.length] ^ ((long) k << 8);
        }
        return sets;
    }

    private static void everyArgumentArrives() throws ReflectiveOperationException {
        long weigherOf = FarcallChecks.symbol("farcall_test_weigher");
        for (long[] a : argumentSets()) {
            for (int n = 0; n <= FarcallChecks.MAX_ARITY; n++) {
                long weigher = Farcall.cCall1(n, weigherOf);
                for (String family : FAMILIES) {
                    FarcallChecks.checkEqual(FarcallChecks.call(FarcallChecks.member(family, n), a, n, weigher),
                            FarcallChecks.expectedWeight(a, n), family + n + " weighing");
                }
            }
        }
        long difference = FarcallChecks.symbol("farcall_test_difference");
        FarcallChecks.checkEqual(Farcall.cCall2(5, -1, difference), -6, "cCall2(5, -1) difference");
        FarcallChecks.checkEqual(Farcall.stdCall2(5, -1, difference), -6, "stdCall2(5, -1) difference");
    }

    private static void variadicTargets() throws ReflectiveOperationException {
        long sum = FarcallChecks.symbol("farcall_test_sum");
        for (int n = 1; n <= FarcallChecks.MAX_ARITY; n++) {
            long[] a = new long[n];
            a[0] = n - 1;
            long expected = 0;
            for (int k = 1; k < n; k++) {
                a[k] = (k % 2 == 0 ? -1 : 1) * (1L << (k % 62)) + k;
                expected += a[k];
            }
            for (String family : FAMILIES) {
                FarcallChecks.checkEqual(FarcallChecks.call(FarcallChecks.member(family, n), a, n, sum),
                        expected, family + n + " variadic sum");
            }
        }
    }

    private static void libcThroughTheRegistry() {
        long libc = Farcall.open("libc.so.6");
        FarcallChecks.check(libc != 0, "open of libc");
        FarcallChecks.checkEqual(Farcall.cCall0(FarcallChecks.symbol("getpid")), ProcessHandle.current().pid(),
                "getpid");

        long snprintf = FarcallChecks.symbol("snprintf");
        long strcmp = FarcallChecks.symbol("strcmp");
        long free = FarcallChecks.symbol("free");
        long buffer = Farcall.cCall1(128, FarcallChecks.symbol("malloc"));
        long format = FarcallChecks.nativeString("%ld|%lx|%d|%ld|%lu");
        String text = "-1234567890123|fedcba9876543210|7|-9223372036854775808|18446744073709551615";
        long expected = FarcallChecks.nativeString(text);
        long[] results = {
            Farcall.cCall8(buffer, 128, format, -1234567890123L, 0xFEDCBA9876543210L, 0x100000007L,
                    Long.MIN_VALUE, -1L, snprintf),
            Farcall.stdCall8(buffer, 128, format, -1234567890123L, 0xFEDCBA9876543210L, 0x100000007L,
                    Long.MIN_VALUE, -1L, snprintf),
        };
        for (long length : results) {
            FarcallChecks.checkEqual((int) length, text.length(), "snprintf length");
        }
        FarcallChecks.checkEqual(Farcall.cCall2(buffer, expected, strcmp), 0, "snprintf text");
        Farcall.cCall1(buffer, free);
        Farcall.cCall1(format, free);
        Farcall.cCall1(expected, free);
    }

    private static void vectorCountIsZero() throws ReflectiveOperationException {
        long entryRax = FarcallChecks.symbol("farcall_test_entry_rax");
        long[] a = new long[FarcallChecks.MAX_ARITY];
        java.util.Arrays.fill(a, -1L);
        for (int n = 0; n <= FarcallChecks.MAX_ARITY; n++) {
            for (String family : FAMILIES) {
                FarcallChecks.checkEqual(FarcallChecks.call(FarcallChecks.member(family, n), a, n, entryRax), 0,
                        family + n + " %rax at the target");
            }
        }
    }

    private static void noTrampolineFrame(String farcallPath) throws ReflectiveOperationException {
        // The trampolines' own addresses, to tell their code from the caller's.
        long farcall = Farcall.open(farcallPath);
        FarcallChecks.check(farcall != 0, "open of libFarcall itself");
        long trampoline = FarcallChecks.symbol("Java_com_tamsor_cobol_rununit_Farcall_cCall0");
        long sameObject = FarcallChecks.symbol("farcall_test_same_object");
        long returnAddress = FarcallChecks.symbol("farcall_test_return_address");
        FarcallChecks.checkEqual(Farcall.cCall2(trampoline,
                FarcallChecks.symbol("JavaCritical_com_tamsor_cobol_rununit_Farcall_stdCall64"), sameObject), 1,
                "two trampolines lie in one object");

        // On s390x the standard entries that pass a5 in r6 make a real call,
        // from which the target returns into libFarcall.
        int realCallsFrom = System.getProperty("os.arch").equals("s390x") ? 5 : FarcallChecks.MAX_ARITY + 1;
        long[] a = new long[FarcallChecks.MAX_ARITY];
        for (int n = 0; n <= FarcallChecks.MAX_ARITY; n++) {
            for (String family : FAMILIES) {
                long back = FarcallChecks.call(FarcallChecks.member(family, n), a, n, returnAddress);
                FarcallChecks.check(back != 0, family + n + " return address");
                if (n < realCallsFrom) {
                    FarcallChecks.checkEqual(Farcall.cCall2(back, trampoline, sameObject), 0,
                            family + n + ": the target returns past libFarcall");
                } else {
                    FarcallChecks.checkEqual(Farcall.cCall2(back, trampoline, sameObject), 1,
                            family + n + ": the target returns into the real call of libFarcall");
                }
            }
        }
        Farcall.close(farcall);
    }

    public static void main(String[] args) throws ReflectiveOperationException {
        Farcall.load(args[0]);
        long targets = Farcall.open(args[1]);
        FarcallChecks.check(targets != 0, "open of the call targets");
        everyArgumentArrives();
        variadicTargets();
        // Only x86-64 announces a vector-register count to variadic callees.
        if (System.getProperty("os.arch").equals("amd64")) {
            vectorCountIsZero();
        }
        libcThroughTheRegistry();
        noTrampolineFrame(args[0]);
        FarcallChecks.finish("FarcallCallCheck");
    }
}
