import com.tamsor.cobol.rununit.Farcall;
import java.lang.reflect.Method;

/**
 * The critical-native entry points, bound by the virtual machine itself
 * (JDK 17 with -XX:+CriticalJNINatives). It binds them only when it compiles
 * a native method's wrapper, so each method is called until its calls are
 * seen to arrive through the critical entry, then checked with real
 * arguments through that entry.
 *
 * How a call shows its entry: the position just past the N arguments holds
 * fn after a critical call (fn was passed there and nothing moved), but a
 * leftover argument after a standard call, whose trampoline moves fn out.
 * Arguments: libFarcall, the call targets, test libraries A and B.
 */
public final class FarcallCriticalCheck {
    private static final int CALL_LIMIT = 100_000;

    private FarcallCriticalCheck() {
    }

    public static void main(String[] args) throws ReflectiveOperationException {
        Farcall.load(args[0]);
        FarcallChecks.check(Farcall.open(args[1]) != 0, "open of the call targets");
        long firstArgument = FarcallChecks.symbol("farcall_test_first_argument");
        long nextArgument = FarcallChecks.symbol("farcall_test_next_argument");
        long weigherOf = FarcallChecks.symbol("farcall_test_weigher");
        long[][] argumentSets = FarcallCallCheck.argumentSets();

        for (String family : new String[] {"cCall", "stdCall"}) {
            for (int n = 0; n <= FarcallChecks.MAX_ARITY; n++) {
                Method member = FarcallChecks.member(family, n);
                long probe = n == 0 ? firstArgument : nextArgument;
                long[] a = new long[Math.max(n, 1)];
                java.util.Arrays.fill(a, 0x5A5A5A5AL);
                a[0] = n;
                int calls = 0;
                boolean critical = false;
                while (!critical && calls < CALL_LIMIT) {
                    critical = FarcallChecks.call(member, a, n, probe) == probe;
                    calls++;
                }
                FarcallChecks.check(critical, family + n + " never came through its critical entry");
                if (!critical) {
                    continue;
                }
                long weigher = Farcall.cCall1(n, weigherOf);
                for (long[] values : argumentSets) {
                    FarcallChecks.checkEqual(FarcallChecks.call(member, values, n, weigher),
                            FarcallChecks.expectedWeight(values, n), family + n + " critical weighing");
                }
                FarcallChecks.check(FarcallChecks.call(member, a, n, probe) == probe,
                        family + n + " still critical");
            }
        }
        FarcallChecks.finish("FarcallCriticalCheck");
    }
}
