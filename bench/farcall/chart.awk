# A small SVG bar chart of RESULT|form|case|variant|ns lines (see run.sh):
# one group of bars per case and form, one bar per way of calling, on a
# logarithmic scale from 1 ns, since JNA is two orders slower than the rest.
$1 == "RESULT" { ns[$2, $3, $4] = $5; if ($5 > top) top = $5 }
function scaled(value) { return value <= 1 ? 1 : log(value) / log(10) / decades * width }
END {
  split("cCall0 cCall2 cCall8 cCall64 stdCall2", cases, " ")
  split("standard critical", forms, " ")
  split("farcall plain jna libffi ffm", variants, " ")
  split("#1f77b4 #2ca02c #d62728 #9467bd #ff7f0e", colours, " ")
  split("Farcall,plain JNI,JNA direct,libffi (C),FFM", labels, ",")
  decades = int(log(top) / log(10)) + 1
  bar = 9; left = 170; width = 560; y = 40
  body = ""
  for (f = 1; f <= 2; f++) for (c = 1; c <= 5; c++) {
    form = forms[f]; name = cases[c]; peer = name == "stdCall2" ? "cCall2" : name
    body = body sprintf("<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s %s</text>\n", left - 8, y + 14, name, form)
    for (v = 1; v <= 5; v++) {
      value = ns[form, v <= 2 ? name : peer, variants[v]]
      if (value == "") continue
      w = scaled(value)
      body = body sprintf("<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"/>", left, y, w, bar - 1, colours[v])
      body = body sprintf("<text x=\"%.1f\" y=\"%d\" font-size=\"9\">%.1f</text>\n", left + w + 3, y + bar - 2, value)
      y += bar
    }
    y += 8
  }
  grid = ""
  for (d = 0; d <= decades; d++) {
    x = left + d / decades * width
    grid = grid sprintf("<line x1=\"%.1f\" y1=\"30\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/><text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"9\">%d ns</text>\n", x, x, y, x, y + 12, 10 ^ d)
  }
  legend = ""
  for (v = 1; v <= 5; v++) legend = legend sprintf("<rect x=\"%d\" y=\"12\" width=\"10\" height=\"10\" fill=\"%s\"/><text x=\"%d\" y=\"21\">%s</text>\n", left + (v - 1) * 110, colours[v], left + (v - 1) * 110 + 14, labels[v])
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" font-family=\"sans-serif\" font-size=\"11\">\n", left + width + 60, y + 40
  printf "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n%s%s%s", grid, legend, body
  printf "<text x=\"%d\" y=\"%d\">ns per call (median, log scale), shorter is better</text>\n</svg>\n", left, y + 32
}
