# Markdown tables from REGISTRY|measure|variant|names|ns lines (see
# RegistryBench.java); variables repetitions, machine, load, when, java.
$1 == "REGISTRY" {
  ns[$2, $3, $4] = $5
  if ($2 == "open") {
    if (!($4 in seenLibraries)) { seenLibraries[$4] = 1; libraries[++l] = $4 }
  } else if (!($4 in seen)) {
    seen[$4] = 1; counts[++n] = $4
  }
}
function cell(value) { return value == "" ? "-" : sprintf("%.1f", value) }
function ratio(a, b) { return (a == "" || b == "" || b == 0) ? "-" : sprintf("%.2fx", a / b) }
function grouped(number) {  # 100000 -> 100,000
  number = sprintf("%d", number)
  while (number ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", number)
  return number
}
END {
  print "# libFarcall registry at scale"
  print ""
  print "Nanoseconds per symbol lookup, median of " repetitions " repetitions of 5 samples, Farcall, JNA and dlsym"
  print "interleaved in one virtual machine (JDK " java "), all three on one library exporting 100,000"
  print "names; " when ", " machine ","
  print "load average (1, 5, 15 min) " load " before / after the run."
  print "`Farcall`: `Farcall.findSymbol` of the name cached last, again (a JNI call, the class's monitor,"
  print "the string's characters, the index); `JNA`: `NativeLibrary.getFunction` of the same name, served"
  print "from JNA's hash map of Function objects; `dlsym`: the same name looked up by dlsym in a loop in C,"
  print "nothing cached. A miss: a name the library does not have. Target: the cached lookup with 100,000"
  print "names within 1.2x of the one with 1 name."
  print ""
  print "| names cached | Farcall | vs 1 name | JNA | dlsym (C) | Farcall / dlsym | Farcall / JNA | miss: Farcall | miss: dlsym (C) | miss: JNA |"
  print "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  one = ns["cached", "farcall", counts[1]]
  for (c = 1; c <= n; c++) {
    k = counts[c]
    ours = ns["cached", "farcall", k]; jna = ns["cached", "jna", k]; dl = ns["cached", "dlsym", k]
    print "| " grouped(k) " | " cell(ours) " | " ratio(ours, one) " | " cell(jna) " | " cell(dl) " | " \
          ratio(ours, dl) " | " ratio(ours, jna) " | " cell(ns["miss", "farcall", k]) " | " \
          cell(ns["miss", "dlsym", k]) " | " cell(ns["miss", "jna", k]) " |"
  }
  print ""
  print "Resolving the first n names, each for the first time, in one run from an empty cache: ns per name"
  print "(the total divided by n, so a cost that grows with the cache shows as a rising column)."
  print ""
  print "| names resolved | Farcall | JNA | dlsym (C) | Farcall / dlsym | Farcall / JNA | Farcall, total |"
  print "|---:|---:|---:|---:|---:|---:|---:|"
  for (c = 1; c <= n; c++) {
    k = counts[c]
    ours = ns["resolve", "farcall", k]; jna = ns["resolve", "jna", k]; dl = ns["resolve", "dlsym", k]
    total = ours * k / 1000000
    print "| " grouped(k) " | " cell(ours) " | " cell(jna) " | " cell(dl) " | " ratio(ours, dl) " | " \
          ratio(ours, jna) " | " (total >= 1 ? sprintf("%.1f ms", total) : sprintf("%.1f us", total * 1000)) " |"
  }
  if (l == 0) exit
  print ""
  print "An `open` of the path listed last, with 1 to 1,000 libraries listed (the same file under as many"
  print "symbolic links, paths of one length), ns per open: Farcall's, and `dlopen` with `dlclose` of the"
  print "same path from C."
  print ""
  print "| libraries listed | Farcall | vs 1 library | dlopen + dlclose (C) | Farcall / dlopen |"
  print "|---:|---:|---:|---:|---:|"
  one = ns["open", "farcall", libraries[1]]
  for (c = 1; c <= l; c++) {
    k = libraries[c]
    ours = ns["open", "farcall", k]; dl = ns["open", "dlopen", k]
    print "| " grouped(k) " | " cell(ours) " | " ratio(ours, one) " | " cell(dl) " | " ratio(ours, dl) " |"
  }
}
