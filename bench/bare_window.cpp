// The yardstick for the desktop client's start-up: a bare WebKitGTK window of the same size
// loading the same page, in WebKit's sandbox as the client's pages are. It prints "mapped" when its
// window maps, "first-frame" at the window's first frame drawn, "loaded" when the page has loaded
// and "web-process-terminated" if the page's process ends, then waits to be ended.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    if (argc != 2 || !gtk_init_check(&argc, &argv))
        return 2;
    // The client's setting: sandboxed unless WebKit's own variable turns it off for both.
    const char* off = std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
    webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), !off || std::strcmp(off, "1") != 0);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 480);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
        say("mapped");
        return FALSE;
    }), nullptr);
    g_signal_connect(window, "realize", G_CALLBACK(+[](GtkWidget* window, gpointer) {
        g_signal_connect(gtk_widget_get_frame_clock(window), "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer) {
            static bool drawn = false;
            if (!drawn)
                say("first-frame");
            drawn = true;
        }), nullptr);
    }), nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer) {
        if (event == WEBKIT_LOAD_FINISHED)
            say("loaded");
    }), nullptr);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason,
                                                                      gpointer) { say("web-process-terminated"); }),
                     nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
}
