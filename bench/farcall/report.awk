# Markdown table from RESULT|form|case|variant|ns lines (see run.sh).
$1 == "RESULT" { ns[$2, $3, $4] = $5 }
function cell(value) { return value == "" ? "-" : sprintf("%.1f", value) }
function ratio(a, b) { return (a == "" || b == "" || b == 0) ? "-" : sprintf("%.2fx", a / b) }
END {
  print "# libFarcall call cost"
  print ""
  print "Nanoseconds per call, median of " repetitions " repetitions; peers and Farcall interleaved in"
  print "one virtual machine per form (JDK 17). Machine: " machine "."
  print "`plain JNI`: a static native doing the target's work in C; `+ 1 long`: the same with one more,"
  print "unused long argument, as Farcall passes fn: the virtual machine's share of the difference. Critical rows: JDK 17 with"
  print "-XX:+CriticalJNINatives, where both Farcall and the plain native are bound as critical natives;"
  print "the FFM column there uses Linker.Option.critical. Targets: Farcall <= 1.1x plain JNI, >= 5x faster than JNA."
  print ""
  ffm = ffm_title == "" ? "FFM (no JDK >= 22)" : ffm_title
  print "| case | form | Farcall | plain JNI | Farcall / plain | plain JNI + 1 long | JNA direct | JNA / Farcall | libffi (C) | " ffm " |"
  print "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  split("cCall0 cCall2 cCall8 cCall64 stdCall2", cases, " ")
  split("standard critical", forms, " ")
  for (f = 1; f <= 2; f++) {
    for (c = 1; c <= 5; c++) {
      form = forms[f]; name = cases[c]
      peer = name == "stdCall2" ? "cCall2" : name
      ours = ns[form, name, "farcall"]; plain = ns[form, name, "plain"]
      extra = ns[form, peer, "extra"]; jna = ns[form, peer, "jna"]; ffi = ns[form, peer, "libffi"]; ffmv = ns[form, peer, "ffm"]
      print "| " name " | " form " | " cell(ours) " | " cell(plain) " | " ratio(ours, plain) " | " cell(extra) " | " \
            cell(jna) " | " ratio(jna, ours) " | " cell(ffi) " | " cell(ffmv) " |"
    }
  }
  if (("standard", "findSymbol", "after") in ns) {
    before = ns["standard", "findSymbol", "before"]; after = ns["standard", "findSymbol", "after"]
    print ""
    print "Cached `findSymbol` (a name resolved before), ns per call, median of " repetitions " repetitions,"
    print "interleaved in one virtual machine (JDK 17): before, the registry methods unsynchronized;"
    print "after, `static synchronized`, one uncontended monitor enter and exit per call."
    print ""
    print "| case | before | after | after / before |"
    print "|---|---:|---:|---:|"
    print "| findSymbol, cached | " cell(before) " | " cell(after) " | " ratio(after, before) " |"
  }
}
