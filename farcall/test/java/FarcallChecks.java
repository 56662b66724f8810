import com.tamsor.cobol.rununit.Farcall;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;

/** What the JVM-driven checks share: failure counting and reflective calls. */
final class FarcallChecks {
    static final int MAX_ARITY = 64;
    static final long WEIGHING_FACTOR = 0x9E3779B97F4A7C15L;

    private static int failures;
    private static int checks;

    private FarcallChecks() {
    }

    static void check(boolean condition, String what) {
        checks++;
        if (!condition) {
            failures++;
            System.out.println("FAILED: " + what);
        }
    }

    static void checkEqual(long got, long expected, String what) {
        check(got == expected, what + ": got " + got + ", expected " + expected);
    }

    /** Ends the run: status 1 if any check failed. */
    static void finish(String name) {
        System.out.println(name + ": " + checks + " checks, " + failures + " failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    /** Farcall's cCall{n} or stdCall{n}. */
    static Method member(String family, int n) throws NoSuchMethodException {
        Class<?>[] parameters = new Class<?>[n + 1];
        java.util.Arrays.fill(parameters, long.class);
        return Farcall.class.getMethod(family + n, parameters);
    }

    /** Calls member with arguments a[0..n-1] and fn. */
    static long call(Method member, long[] a, int n, long fn) throws ReflectiveOperationException {
        Object[] boxed = new Object[n + 1];
        for (int k = 0; k < n; k++) {
            boxed[k] = a[k];
        }
        boxed[n] = fn;
        return (Long) member.invoke(null, boxed);
    }

    /** What the test library's weighing target of arity n returns. */
    static long expectedWeight(long[] a, int n) {
        long weight = n;
        long power = 1;
        for (int k = 0; k < n; k++) {
            power *= WEIGHING_FACTOR;
            weight += a[k] * power;
        }
        return weight;
    }

    static long symbol(String name) {
        long address = Farcall.findSymbol(name);
        if (address == 0) {
            throw new IllegalStateException("symbol not found: " + name);
        }
        return address;
    }

    /** A NUL-terminated copy of text in memory from malloc, written with memset. */
    static long nativeString(String text) {
        byte[] bytes = text.getBytes(StandardCharsets.UTF_8);
        long memory = Farcall.cCall1(bytes.length + 1, symbol("malloc"));
        long memset = symbol("memset");
        for (int i = 0; i < bytes.length; i++) {
            Farcall.cCall3(memory + i, bytes[i], 1, memset);
        }
        Farcall.cCall3(memory + bytes.length, 0, 1, memset);
        return memory;
    }
}
