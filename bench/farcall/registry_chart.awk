# An SVG line chart of REGISTRY|measure|variant|names|ns lines (see
# RegistryBench.java): cost against the number of names, on a logarithmic
# scale of names, for Farcall, JNA and dlsym. Left, a cached lookup on a
# linear scale from 0, where a flat line is a cost that does not grow;
# right, ns per name to resolve the first n names, on a logarithmic scale.
$1 == "REGISTRY" {
  ns[$2, $3, $4] = $5
  if (!($4 in seen)) { seen[$4] = 1; counts[++n] = $4 }
  if ($4 > most) most = $4
}
function xOf(names) { return left + log(names) / log(10) / decades * width }
function yOf(value) {
  if (logScale) return top + height - (log(value) / log(10) - low) / (high - low) * height
  return top + height - value / ceiling * height
}
function niceCeiling(value,    step) {  # 1, 2 or 5 times a power of ten, at least value
  step = 10 ^ int(log(value) / log(10))
  if (value <= step) return step
  if (value <= 2 * step) return 2 * step
  if (value <= 5 * step) return 5 * step
  return 10 * step
}
function panel(measure, title, useLog,    v, c, value, smallest, largest, d, y, points, label) {
  logScale = useLog
  smallest = 0; largest = 0
  for (v = 1; v <= 3; v++) for (c = 1; c <= n; c++) {
    value = ns[measure, variants[v], counts[c]]
    if (value == "") continue
    if (smallest == 0 || value < smallest) smallest = value
    if (value > largest) largest = value
  }
  if (useLog) { low = int(log(smallest) / log(10)); high = int(log(largest) / log(10) + 0.999999) }
  else ceiling = niceCeiling(largest * 1.1)
  svg = svg sprintf("<text x=\"%d\" y=\"%d\" font-weight=\"bold\">%s</text>\n", left, top - 12, title)
  # grid: values
  if (useLog) {
    for (d = low; d <= high; d++) {
      y = yOf(10 ^ d)
      svg = svg sprintf("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" font-size=\"9\">%s ns</text>\n", left, y, left + width, y, left - 4, y + 3, 10 ^ d)
    }
  } else {
    for (d = 0; d <= 5; d++) {
      y = yOf(ceiling * d / 5)
      svg = svg sprintf("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/><text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" font-size=\"9\">%g ns</text>\n", left, y, left + width, y, left - 4, y + 3, ceiling * d / 5)
    }
  }
  # grid: names
  for (d = 0; d <= decades; d++) {
    svg = svg sprintf("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/><text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"9\">%d</text>\n", xOf(10 ^ d), top, xOf(10 ^ d), top + height, xOf(10 ^ d), top + height + 12, 10 ^ d)
  }
  svg = svg sprintf("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">names %s (log scale)</text>\n", left + width / 2, top + height + 28, measure == "cached" ? "cached" : "resolved")
  for (v = 1; v <= 3; v++) {
    points = ""
    for (c = 1; c <= n; c++) {
      value = ns[measure, variants[v], counts[c]]
      if (value == "") continue
      points = points sprintf("%.1f,%.1f ", xOf(counts[c]), yOf(value))
      svg = svg sprintf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"%s\"/>\n", xOf(counts[c]), yOf(value), colours[v])
    }
    svg = svg sprintf("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n", points, colours[v])
  }
}
END {
  split("farcall jna dlsym", variants, " ")
  split("#1f77b4 #d62728 #2ca02c", colours, " ")
  split("Farcall findSymbol,JNA getFunction,dlsym from C", labels, ",")
  decades = int(log(most) / log(10) + 0.5)
  if (decades < 1) decades = 1
  width = 330; height = 220; top = 60
  svg = ""
  left = 60; panel("cached", "Cached lookup, ns (linear scale)", 0)
  left = 470; panel("resolve", "Resolving the first n names, ns per name (log scale)", 1)
  legend = ""
  for (v = 1; v <= 3; v++) legend = legend sprintf("<rect x=\"%d\" y=\"10\" width=\"10\" height=\"10\" fill=\"%s\"/><text x=\"%d\" y=\"19\">%s</text>\n", 60 + (v - 1) * 170, colours[v], 74 + (v - 1) * 170, labels[v])
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" font-family=\"sans-serif\" font-size=\"11\">\n", 840, top + height + 45
  printf "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n%s%s</svg>\n", legend, svg
}
