/* Prints the X server's current cursor as text, one row per line: '#' an
 * opaque black pixel, 'o' an opaque white one, '.' a transparent one, then
 * "hot X Y". The end-to-end test reads the magnifier back with it. */
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <stdio.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "xcursor: no display\n");
        return 1;
    }
    int event = 0, error = 0;
    if (!XFixesQueryExtension(display, &event, &error)) {
        fprintf(stderr, "xcursor: no XFIXES\n");
        return 1;
    }
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    if (cursor == NULL) {
        fprintf(stderr, "xcursor: no cursor image\n");
        return 1;
    }
    for (int y = 0; y < cursor->height; ++y) {
        for (int x = 0; x < cursor->width; ++x) {
            const unsigned long argb = cursor->pixels[y * cursor->width + x];
            const unsigned alpha = (unsigned)(argb >> 24) & 0xFF;
            const unsigned green = (unsigned)(argb >> 8) & 0xFF;
            putchar(alpha < 128 ? '.' : (green < 128 ? '#' : 'o'));
        }
        putchar('\n');
    }
    printf("hot %d %d\n", cursor->xhot, cursor->yhot);
    XFree(cursor);
    XCloseDisplay(display);
    return 0;
}
