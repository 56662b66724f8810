import com.sun.jna.NativeLibrary;
import com.sun.jna.Pointer;
import com.tamsor.cobol.rununit.Farcall;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The registry at scale, in one virtual machine, interleaved: nanoseconds per
 * symbol lookup with 1 to 100,000 names cached, through Farcall.findSymbol,
 * JNA's NativeLibrary.getFunction (which caches its Function objects in a
 * hash map) and dlsym called from C (which caches nothing and needs nothing
 * cached), all three on the same library of 100,000 names.
 *
 * Every repetition starts empty (Farcall and JNA open the library afresh),
 * then fills each cache to 1, 10, 100, 1,000, 10,000 and 100,000 names. After
 * each step it measures, in an order that rotates, a cached lookup (the name
 * resolved last, again) and a miss (a name the library lacks) of every
 * variant. Then it lists the same library under 1, 10, 100 and 1,000 paths
 * of equal length (symbolic links in a temporary directory) and measures an
 * open of the path listed last: Farcall's, and dlopen with dlclose from C. Medians of all samples are printed as
 * REGISTRY|measure|variant|count|ns, measure being cached, miss, resolve
 * (ns per name to resolve the first n names the first time: the total, so
 * that a cost that grows with the cache shows as a rising line) or open
 * (count being the number of libraries listed).
 *
 * Arguments: libFarcall, the library of names (farcall_many_0 to
 * farcall_many_99999), the peers library (dlsym from C), repetitions, and
 * optionally the largest number of names to fill to (a power of ten), for a
 * registry that could not fill to 100,000 in reasonable time.
 */
public final class RegistryBench {
    static native long dlopenLazy(String path);
    static native long cStrings(String[] strings);
    static native long dlsymRepeated(long handle, long names, int index, int calls);
    static native long dlsymEach(long handle, long names, int from, int to);
    static native long dlopenCloseRepeated(String path, int calls);

    static int[] COUNTS = {1, 10, 100, 1_000, 10_000, 100_000};
    static final String[] VARIANTS = {"farcall", "jna", "dlsym"};
    static final int[] LIBRARY_COUNTS = {1, 10, 100, 1_000};
    static final long TARGET_NS = 10_000_000L;  // per sample
    static final int ROUNDS = 5;                // samples per variant and step in a repetition

    static String[] names;
    static long cNames;
    static String path;
    static long dlHandle;
    static long sink;

    // One repetition's state: Farcall's handle and JNA's library.
    static long farcallHandle;
    static NativeLibrary jna;

    // One method per variant and task, so that the compiler sees each loop
    // with its own profile.
    static long farcallLookUps(String name, int calls) {
        long s = 0;
        for (int i = 0; i < calls; i++) s += Farcall.findSymbol(name);
        return s;
    }

    static long jnaLookUps(String name, int calls) {
        long s = 0;
        for (int i = 0; i < calls; i++) {
            try {
                s += Pointer.nativeValue(jna.getFunction(name));
            } catch (UnsatisfiedLinkError missing) {
                s += 1;
            }
        }
        return s;
    }

    static long farcallResolve(int from, int to) {
        long s = 0;
        for (int i = from; i < to; i++) s += Farcall.findSymbol(names[i]);
        return s;
    }

    static long jnaResolve(int from, int to) {
        long s = 0;
        for (int i = from; i < to; i++) s += Pointer.nativeValue(jna.getFunction(names[i]));
        return s;
    }

    /** A lookup of names[index], calls times, through one variant. */
    static long lookUp(int variant, int index, int calls) {
        switch (variant) {
            case 0:
                return farcallLookUps(names[index], calls);
            case 1:
                return jnaLookUps(names[index], calls);
            default:
                return dlsymRepeated(dlHandle, cNames, index, calls);
        }
    }

    /** Resolves names[from] to names[to - 1] through one variant. */
    static long resolve(int variant, int from, int to) {
        switch (variant) {
            case 0:
                return farcallResolve(from, to);
            case 1:
                return jnaResolve(from, to);
            default:
                return dlsymEach(dlHandle, cNames, from, to);
        }
    }

    static double nsPerLookup(int variant, int index, int calls) {
        long start = System.nanoTime();
        sink += lookUp(variant, index, calls);
        return (double) (System.nanoTime() - start) / calls;
    }

    /** Calls per sample for about TARGET_NS, from a short trial. */
    static int callsFor(int variant, int index) {
        double ns = nsPerLookup(variant, index, 200);
        ns = nsPerLookup(variant, index, 2_000);
        return (int) Math.max(100, Math.min(10_000_000, TARGET_NS / Math.max(ns, 1)));
    }

    static long farcallOpens(String listedPath, int calls) {
        long s = 0;
        for (int i = 0; i < calls; i++) s += Farcall.open(listedPath);
        return s;
    }

    /** An open of a listed path, calls times: Farcall's, or dlopen and dlclose from C. */
    static double nsPerOpen(int variant, String listedPath, int calls) {
        long start = System.nanoTime();
        sink += variant == 0 ? farcallOpens(listedPath, calls) : dlopenCloseRepeated(listedPath, calls);
        return (double) (System.nanoTime() - start) / calls;
    }

    static int callsForOpen(int variant, String listedPath) {
        double ns = nsPerOpen(variant, listedPath, 200);
        ns = nsPerOpen(variant, listedPath, 2_000);
        return (int) Math.max(100, Math.min(10_000_000, TARGET_NS / Math.max(ns, 1)));
    }

    static double median(List<Double> samples) {
        double[] sorted = samples.stream().mapToDouble(Double::doubleValue).toArray();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    public static void main(String[] args) throws IOException {
        Farcall.load(args[0]);
        path = args[1];
        System.load(args[2]);
        int repetitions = Integer.parseInt(args[3]);
        if (args.length > 4) {
            int limit = Integer.parseInt(args[4]);
            COUNTS = Arrays.stream(COUNTS).filter(count -> count <= limit).toArray();
        }

        int largest = COUNTS[COUNTS.length - 1];
        names = new String[largest + 1];
        for (int i = 0; i < largest; i++) names[i] = "farcall_many_" + i;
        final int absent = largest;
        names[absent] = "farcall_many_absent";
        cNames = cStrings(names);
        dlHandle = dlopenLazy(path);
        if (cNames == 0 || dlHandle == 0) throw new IllegalStateException("cannot prepare dlsym of " + path);

        // Every sample by measure, variant and count, in the order printed.
        Map<String, List<Double>> samples = new LinkedHashMap<>();
        for (String measure : new String[] {"cached", "miss", "resolve"}) {
            for (String variant : VARIANTS) {
                for (int count : COUNTS) samples.put(measure + "|" + variant + "|" + count, new ArrayList<>());
            }
        }
        for (String variant : new String[] {"farcall", "dlopen"}) {
            for (int count : LIBRARY_COUNTS) samples.put("open|" + variant + "|" + count, new ArrayList<>());
        }
        // The library under as many paths of one length as the most libraries listed.
        Path linkDirectory = Files.createTempDirectory("registry-bench");
        String[] links = new String[LIBRARY_COUNTS[LIBRARY_COUNTS.length - 1]];
        for (int k = 0; k < links.length; k++) {
            Path link = linkDirectory.resolve(String.format("link%04d.so", k));
            Files.createSymbolicLink(link, Path.of(path).toAbsolutePath());
            links[k] = link.toString();
        }

        int[][][] calls = new int[2][3][COUNTS.length];
        int[][] openCalls = new int[2][LIBRARY_COUNTS.length];

        // Repetition 0 warms up and sets the number of calls per sample.
        for (int r = 0; r <= repetitions; r++) {
            farcallHandle = Farcall.open(path);
            jna = NativeLibrary.getInstance(path);
            if (farcallHandle == 0) throw new IllegalStateException("Farcall cannot open " + path);
            long[] resolveNs = new long[3];
            int filled = 0;
            for (int c = 0; c < COUNTS.length; c++) {
                for (int k = 0; k < 3; k++) {
                    int v = (k + r + c) % 3;
                    long start = System.nanoTime();
                    sink += resolve(v, filled, COUNTS[c]);
                    resolveNs[v] += System.nanoTime() - start;
                }
                filled = COUNTS[c];
                int last = filled - 1;
                if (r == 0) {
                    for (int v = 0; v < 3; v++) {
                        calls[0][v][c] = callsFor(v, last);
                        calls[1][v][c] = callsFor(v, absent);
                    }
                    continue;
                }
                for (int v = 0; v < 3; v++) {
                    samples.get("resolve|" + VARIANTS[v] + "|" + filled).add((double) resolveNs[v] / filled);
                }
                for (int round = 0; round < ROUNDS; round++) {
                    for (int k = 0; k < 6; k++) {
                        int turn = (k + round + r) % 6;
                        int m = turn / 3;
                        int v = turn % 3;
                        int index = m == 0 ? last : absent;
                        samples.get((m == 0 ? "cached|" : "miss|") + VARIANTS[v] + "|" + filled)
                                .add(nsPerLookup(v, index, calls[m][v][c]));
                    }
                }
            }
            String[] dropped = Farcall.close(farcallHandle);
            if (dropped == null || dropped.length != filled) {
                throw new IllegalStateException("close dropped " + (dropped == null ? 0 : dropped.length) + " names");
            }
            jna.close();

            // An open of the path listed last, with 1 to 1,000 libraries listed.
            long[] handles = new long[links.length];
            int opened = 0;
            for (int c = 0; c < LIBRARY_COUNTS.length; c++) {
                for (; opened < LIBRARY_COUNTS[c]; opened++) {
                    handles[opened] = Farcall.open(links[opened]);
                    if (handles[opened] == 0) throw new IllegalStateException("Farcall cannot open " + links[opened]);
                }
                String listedLast = links[opened - 1];
                if (r == 0) {
                    for (int v = 0; v < 2; v++) openCalls[v][c] = callsForOpen(v, listedLast);
                    continue;
                }
                for (int round = 0; round < ROUNDS; round++) {
                    for (int k = 0; k < 2; k++) {
                        int v = (k + round + r) % 2;
                        samples.get("open|" + (v == 0 ? "farcall" : "dlopen") + "|" + opened)
                                .add(nsPerOpen(v, listedLast, openCalls[v][c]));
                    }
                }
            }
            for (int k = 0; k < opened; k++) Farcall.close(handles[k]);
            System.err.printf("repetition %d of %d done%n", r, repetitions);
        }

        for (Map.Entry<String, List<Double>> entry : samples.entrySet()) {
            if (!entry.getValue().isEmpty()) {
                System.out.printf("REGISTRY|%s|%.2f%n", entry.getKey(), median(entry.getValue()));
            }
        }
        for (String link : links) Files.delete(Path.of(link));
        Files.delete(linkDirectory);
        System.err.println("(sink " + sink + ")");
    }
}
