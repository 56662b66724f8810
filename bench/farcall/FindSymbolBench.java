import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * Nanoseconds per cached Farcall.findSymbol, before and after the registry
 * methods became synchronized on the class, in one virtual machine,
 * interleaved. "after" is the Farcall on the class path; "before" is the same
 * class compiled without the synchronized modifiers (run.sh makes it), loaded
 * by a class loader of its own with its own copy of libFarcall, since a
 * library can belong to only one class loader. Both are called through
 * constant method handles, which the compiler turns into direct calls.
 * Prints RESULT|standard|findSymbol|before|ns and ...|after|ns.
 *
 * Arguments: libFarcall, the jar of the unsynchronized class, a copy of
 * libFarcall for it, the peers library, repetitions.
 */
public final class FindSymbolBench {
    static final String NAME = "bench_zero";
    static final long TARGET_NS = 100_000_000L;  // per measurement
    static MethodHandle afterHandle;
    static MethodHandle beforeHandle;
    static long sink;

    /** Read once setup is done: constants from then on. */
    static final class Handles {
        static final MethodHandle AFTER = afterHandle;
        static final MethodHandle BEFORE = beforeHandle;
    }

    static MethodHandle setUp(Class<?> farcall, String library, String peers) throws Throwable {
        MethodHandles.Lookup lookup = MethodHandles.publicLookup();
        lookup.findStatic(farcall, "load", MethodType.methodType(void.class, String.class)).invoke(library);
        lookup.findStatic(farcall, "open", MethodType.methodType(long.class, String.class)).invoke(peers);
        MethodHandle find = lookup.findStatic(farcall, "findSymbol", MethodType.methodType(long.class, String.class));
        if ((long) find.invoke(NAME) == 0) throw new IllegalStateException(NAME + " not found");
        return find;
    }

    static long after(int calls) throws Throwable {
        long s = 0;
        for (int i = 0; i < calls; i++) s += (long) Handles.AFTER.invokeExact(NAME);
        return s;
    }

    static long before(int calls) throws Throwable {
        long s = 0;
        for (int i = 0; i < calls; i++) s += (long) Handles.BEFORE.invokeExact(NAME);
        return s;
    }

    static double nsPerCall(boolean synchronizedOne, int calls) throws Throwable {
        long start = System.nanoTime();
        sink += synchronizedOne ? after(calls) : before(calls);
        return (double) (System.nanoTime() - start) / calls;
    }

    public static void main(String[] args) throws Throwable {
        String peers = args[3];
        int repetitions = Integer.parseInt(args[4]);
        afterHandle = setUp(Class.forName("com.tamsor.cobol.rununit.Farcall"), args[0], peers);
        URLClassLoader unsynchronized = new URLClassLoader(new URL[] {Path.of(args[1]).toUri().toURL()},
                ClassLoader.getPlatformClassLoader());
        beforeHandle = setUp(Class.forName("com.tamsor.cobol.rununit.Farcall", true, unsynchronized), args[2], peers);

        int[] calls = new int[2];
        for (int v = 0; v < 2; v++) {
            double ns = 0;
            for (int round = 0; round < 5; round++) ns = nsPerCall(v == 1, 50_000);
            calls[v] = (int) Math.max(10_000, Math.min(20_000_000, TARGET_NS / Math.max(ns, 0.1)));
        }
        double[][] samples = new double[2][repetitions];
        for (int r = 0; r < repetitions; r++) {
            for (int k = 0; k < 2; k++) {
                int v = (k + r) % 2;
                samples[v][r] = nsPerCall(v == 1, calls[v]);
            }
        }
        String[] names = {"before", "after"};
        for (int v = 0; v < 2; v++) {
            double[] sorted = samples[v].clone();
            Arrays.sort(sorted);
            System.out.printf("RESULT|standard|findSymbol|%s|%.2f%n", names[v], sorted[repetitions / 2]);
        }
        System.err.println("(sink " + sink + ")");
    }
}
