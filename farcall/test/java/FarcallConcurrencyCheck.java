import com.tamsor.cobol.rununit.Farcall;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.SplittableRandom;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicLong;
import java.util.stream.Stream;

/**
 * Java threads that load libFarcall, open, resolve, call and close at once,
 * for a few seconds. The registry's lists have no lock of their own: without
 * the class's monitor they break within a second and the virtual machine
 * crashes. Every answer must be one the registry can give in some order of
 * the same calls.
 *
 * Both test libraries stay loaded by System.load for the whole run, so every
 * name keeps its address however often the registry opens and closes them.
 * Arguments: libFarcall, the call targets, test libraries A and B; the
 * java.io.tmpdir must be an empty directory of this check's own.
 */
public final class FarcallConcurrencyCheck {
    private static final int THREADS = 8;
    private static final long RUN_NANOS = 3_000_000_000L;
    private static final String SHARED = "farcall_test_shared";
    private static final List<String> NAMES_A = List.of("farcall_test_a1", "farcall_test_a2", "farcall_test_a3");
    private static final List<String> NAMES_B = List.of("farcall_test_b1", "farcall_test_b2");

    private static final ConcurrentLinkedQueue<String> problems = new ConcurrentLinkedQueue<>();

    private FarcallConcurrencyCheck() {
    }

    private static void problem(String what) {
        if (problems.size() < 20) problems.add(what);
    }

    /** Every thread asks for the jar's library at the same moment. */
    private static void loadFromEveryThread() throws InterruptedException {
        CyclicBarrier start = new CyclicBarrier(THREADS);
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            threads.add(new Thread(() -> {
                try {
                    start.await();
                    Farcall.load();
                } catch (Throwable e) {
                    problem("load: " + e);
                }
            }));
        }
        threads.forEach(Thread::start);
        for (Thread thread : threads) thread.join();
    }

    private static List<Path> leftInTemporaryDirectory() throws IOException {
        try (Stream<Path> entries = Files.list(Path.of(System.getProperty("java.io.tmpdir")))) {
            return entries.toList();
        }
    }

    public static void main(String[] args) throws Exception {
        String libraryA = args[2];
        String libraryB = args[3];
        loadFromEveryThread();
        FarcallChecks.check(leftInTemporaryDirectory().isEmpty(),
                "nothing left in java.io.tmpdir after loading: " + leftInTemporaryDirectory());
        System.load(libraryA);
        System.load(libraryB);

        // The address of every name in its own library, and what it returns.
        Map<String, Set<Long>> addresses = new HashMap<>();
        Map<Long, Long> results = new HashMap<>();
        long a = Farcall.open(libraryA);
        long b = Farcall.open(libraryB);
        for (String name : Stream.concat(Stream.concat(NAMES_A.stream(), NAMES_B.stream()), Stream.of(SHARED)).toList()) {
            long address = FarcallChecks.symbol(name);
            addresses.computeIfAbsent(name, k -> new HashSet<>()).add(address);
            results.put(address, Farcall.cCall0(address));
        }
        Farcall.close(a);
        long sharedB = FarcallChecks.symbol(SHARED);
        addresses.get(SHARED).add(sharedB);
        results.put(sharedB, Farcall.cCall0(sharedB));
        Farcall.close(b);
        List<String> names = new ArrayList<>(addresses.keySet());

        // Several spellings of each path: several registry nodes per file.
        List<String> paths = new ArrayList<>();
        for (String library : new String[] {libraryA, libraryB}) {
            int slash = library.lastIndexOf('/');
            for (String dots : new String[] {"", "/.", "/./."}) {
                paths.add(library.substring(0, slash) + dots + library.substring(slash));
            }
        }

        AtomicLong resolved = new AtomicLong();
        AtomicLong dropped = new AtomicLong();
        AtomicLong operations = new AtomicLong();
        CyclicBarrier start = new CyclicBarrier(THREADS);
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            final int seed = t;
            threads.add(new Thread(() -> {
                SplittableRandom random = new SplittableRandom(seed);
                List<Long> handles = new ArrayList<>();
                try {
                    start.await();
                    long end = System.nanoTime() + RUN_NANOS;
                    while (System.nanoTime() < end) {
                        operations.incrementAndGet();
                        int choice = random.nextInt(10);
                        if (choice < 3) {
                            String path = paths.get(random.nextInt(paths.size()));
                            long handle = Farcall.open(path);
                            if (handle == 0) problem("open " + path + " gave 0");
                            handles.add(handle);
                        } else if (choice < 8) {
                            String name = names.get(random.nextInt(names.size()));
                            long address = Farcall.findSymbol(name);
                            if (address == 0) continue;
                            resolved.incrementAndGet();
                            if (!addresses.get(name).contains(address)) {
                                problem(name + " at " + address + ", not where its libraries have it");
                            } else if (Farcall.cCall0(address) != results.get(address)) {
                                problem(name + " returned the wrong value");
                            }
                        } else if (!handles.isEmpty()) {
                            String[] names2 = Farcall.close(handles.remove(random.nextInt(handles.size())));
                            if (names2 != null) {
                                dropped.addAndGet(names2.length);
                                checkDropped(names2);
                            }
                        }
                    }
                } catch (Throwable e) {
                    problem("thread " + seed + ": " + e);
                }
            }));
        }
        threads.forEach(Thread::start);
        for (Thread thread : threads) thread.join();

        // Closing a node for every spelling empties the registry; no name
        // may then be found, since no library is listed.
        for (String path : paths) {
            String[] names2 = Farcall.close(Farcall.open(path));
            if (names2 != null) {
                dropped.addAndGet(names2.length);
                checkDropped(names2);
            }
        }
        for (String name : names) {
            FarcallChecks.checkEqual(Farcall.findSymbol(name), 0, name + " found with no library open");
        }
        FarcallChecks.check(dropped.get() <= resolved.get(),
                "dropped " + dropped.get() + " names, but only " + resolved.get() + " were resolved");
        FarcallChecks.check(resolved.get() > 0 && dropped.get() > 0, "the threads resolved and dropped names");
        for (String what : problems) FarcallChecks.check(false, what);
        System.out.println(operations.get() + " registry operations on " + THREADS + " threads, "
                + resolved.get() + " names resolved, " + dropped.get() + " dropped");
        FarcallChecks.finish("FarcallConcurrencyCheck");
    }

    /** Names dropped by one close: all present, distinct, of one library. */
    private static void checkDropped(String[] names) {
        Set<String> distinct = new HashSet<>();
        boolean fromA = false;
        boolean fromB = false;
        for (String name : names) {
            if (name == null || !distinct.add(name)) {
                problem("close dropped a null or repeated name: " + name);
                return;
            }
            fromA |= NAMES_A.contains(name);
            fromB |= NAMES_B.contains(name);
            if (!name.equals(SHARED) && !NAMES_A.contains(name) && !NAMES_B.contains(name)) {
                problem("close dropped an unknown name " + name);
            }
        }
        if (fromA && fromB) problem("close dropped names of both libraries: " + distinct);
    }
}
