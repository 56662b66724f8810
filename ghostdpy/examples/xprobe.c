/* xprobe: a small X11 client that opens a display, tells what it sees and
 * closes it again. ghostdpy's demo program and its real-client check:
 *
 *   ghostdpy xprobe            (DISPLAY is set by ghostdpy)
 *
 * It exercises what a program that only opens a display typically sends:
 * the connection setup, extension queries, GetInputFocus, GetFontPath,
 * AllocColor, CreateGC/FreeGC and a round trip (XSync). Exit status 0 when
 * all of it worked, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(void) {
  const char *name = getenv("DISPLAY");
  Display *dpy = XOpenDisplay(NULL);
  if (dpy == NULL) {
    fprintf(stderr, "xprobe: cannot open display '%s'\n", name ? name : "");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  printf("xprobe: display %s, vendor \"%s\", release %d\n", DisplayString(dpy), ServerVendor(dpy),
         VendorRelease(dpy));
  printf("xprobe: screen %d is %d x %d pixels, depth %d\n", screen, DisplayWidth(dpy, screen),
         DisplayHeight(dpy, screen), DefaultDepth(dpy, screen));

  XVisualInfo pattern = {0};
  int visuals = 0;
  XVisualInfo *info = XGetVisualInfo(dpy, VisualNoMask, &pattern, &visuals);
  printf("xprobe: %d visuals\n", visuals);
  if (info) XFree(info);

  Window focus;
  int revert;
  XGetInputFocus(dpy, &focus, &revert);
  printf("xprobe: input focus 0x%lx\n", (unsigned long)focus);

  int paths = 0;
  char **font_path = XGetFontPath(dpy, &paths);
  printf("xprobe: %d font path entries\n", paths);
  if (font_path) XFreeFontPath(font_path);

  XColor colour = {0};
  colour.red = 0xffff;
  colour.green = 0x8000;
  colour.blue = 0x0000;
  if (!XAllocColor(dpy, DefaultColormap(dpy, screen), &colour)) {
    fprintf(stderr, "xprobe: AllocColor failed\n");
    XCloseDisplay(dpy);
    return 1;
  }
  printf("xprobe: allocated colour pixel 0x%06lx\n", colour.pixel);

  GC gc = XCreateGC(dpy, RootWindow(dpy, screen), 0, NULL);
  XFreeGC(dpy, gc);
  XSync(dpy, False);
  XCloseDisplay(dpy);
  printf("xprobe: done\n");
  return 0;
}
