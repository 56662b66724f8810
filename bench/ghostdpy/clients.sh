#!/usr/bin/env bash
# How far real X clients get with ghostdpy: each runs as ghostdpy's program
# on a display of its own, and a Markdown table on standard output says
# whether it was served completely or refused at its first request that
# ghostdpy does not answer. README and the manual page carry its table.
#
#   tools/install-deps.sh clients            # x11-utils, python3-xlib, Node.js and npm
#   bench/ghostdpy/clients.sh [BUILD_DIR]    # default build/default, built first
#
# The clients are Debian 12's programs, Java's AWT on the JDK the build uses,
# and npm's x11 package, installed under BUILD_DIR/clients. Every run is in
# a private /tmp and network namespace, so no other X server on the machine
# is reached (libxcb tries the abstract socket of a display first).
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "${1:-}" != --inside ]; then
  build=$(realpath "${1:-build/default}")
  for tool in javac java node npm xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "clients: no $tool; run tools/install-deps.sh clients" >&2; exit 1; }
  done
  /usr/bin/python3 -c 'import Xlib' 2>/dev/null || { echo "clients: no python3-xlib; run tools/install-deps.sh clients" >&2; exit 1; }
  work=$build/clients
  mkdir -p "$work/java" "$work/npm"
  cat > "$work/java/Probe.java" <<'EOF'
import java.awt.GraphicsEnvironment;
import java.awt.Toolkit;

public class Probe {
    public static void main(String[] args) {
        switch (args[0]) {
            case "environment" -> System.out.println(GraphicsEnvironment.getLocalGraphicsEnvironment().getScreenDevices().length);
            case "toolkit" -> System.out.println(Toolkit.getDefaultToolkit().getScreenSize());
            default -> throw new IllegalArgumentException(args[0]);
        }
    }
}
EOF
  javac -d "$work/java" "$work/java/Probe.java"
  cat > "$work/npm/probe.js" <<'EOF'
const x11 = require('x11');
x11.createClient((err, display) => {
  if (err) { console.error('x11: ' + err); process.exit(1); }
  console.log('x11: screen ' + display.screen[0].pixel_width + ' x ' + display.screen[0].pixel_height);
  display.client.terminate();
}).on('error', (err) => { console.error('x11: ' + err); process.exit(1); });
EOF
  [ -d "$work/npm/node_modules/x11" ] || (cd "$work/npm" && npm install --no-save --no-audit --no-fund x11@4 >/dev/null)
  cmake --build "$build" --target ghostdpy xprobe >/dev/null
  exec "$build/ghostdpy/test/run_in_private_tmp" /usr/bin/unshare --net "$PWD/bench/ghostdpy/clients.sh" --inside "$build"
fi

build=$2
work=$build/clients
request_name() {
  case $1 in
    14) echo GetGeometry ;; 15) echo QueryTree ;; 16) echo InternAtom ;; 17) echo GetAtomName ;;
    21) echo ListProperties ;; 38) echo QueryPointer ;; 45) echo OpenFont ;; 47) echo QueryFont ;;
    49) echo ListFonts ;; 99) echo ListExtensions ;; 101) echo GetKeyboardMapping ;;
    119) echo GetModifierMapping ;; *) echo "opcode $1" ;;
  esac
}

# client NAME COMMAND...: one table row.
client() {
  local name=$1 status opcode
  shift
  status=0
  "$build/ghostdpy/ghostdpy" :5 "$@" >/tmp/out 2>/tmp/err </dev/null || status=$?
  opcode=$(sed -n 's/^ERROR: Not implemented opcode Request { header: RequestHeader { opcode: \([0-9]*\),.*/\1/p' /tmp/err | head -n 1)
  if [ -n "$opcode" ]; then
    echo "| $name | refused at $(request_name "$opcode") ($opcode), its first unanswered request |"
  elif [ "$status" -eq 0 ]; then
    echo "| $name | served completely |"
  else
    echo "| $name | failed with status $status: $(grep -v '^Program failed' /tmp/err | head -n 1) |"
  fi
}

java_version=$(java -version 2>&1 | sed -n 's/.*version "\([^"]*\)".*/\1/p' | head -n 1)
x11_version=$(sed -n 's/.*"version": "\([^"]*\)".*/\1/p' "$work/npm/node_modules/x11/package.json")
xlib_version=$(dpkg-query -W -f '${Version}' python3-xlib)
utils_version=$(dpkg-query -W -f '${Version}' x11-utils)
java=(java -cp "$work/java" Probe)

echo "| Client | How far it gets |"
echo "|---|---|"
client "\`xprobe\` (libX11 over libxcb: opens the display, visuals, input focus, font path, a colour, a GC)" \
  "$build/ghostdpy/xprobe"
client "Java $java_version: \`GraphicsEnvironment.getLocalGraphicsEnvironment().getScreenDevices()\`" "${java[@]}" environment
client "npm \`x11\` $x11_version (Node.js $(node --version)): \`createClient\`, \`terminate\`" \
  node "$work/npm/probe.js"
client "Java $java_version: \`Toolkit.getDefaultToolkit()\`" "${java[@]}" toolkit
client "python3-xlib $xlib_version: \`Xlib.display.Display()\`" \
  /usr/bin/python3 -c 'import Xlib.display; Xlib.display.Display().close()'
client "\`xdpyinfo\` (x11-utils $utils_version)" xdpyinfo
client "\`xprop -root\` (x11-utils)" xprop -root
client "\`xwininfo -root\` (x11-utils, libxcb)" xwininfo -root
