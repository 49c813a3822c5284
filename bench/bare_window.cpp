// The yardstick for the desktop client's start-up: a bare WebKitGTK window of the same size
// loading the same page. It prints "mapped" when its window maps and "painted" at the first frame
// drawn after the page has loaded, then waits to be ended.
#include <cstdio>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

int main(int argc, char** argv)
{
    if (argc != 2 || !gtk_init_check(&argc, &argv))
        return 2;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 480);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
        std::printf("mapped\n");
        std::fflush(stdout);
        return FALSE;
    }), nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, gpointer) {
        if (event != WEBKIT_LOAD_FINISHED)
            return;
        GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view));
        g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* clock, gpointer) {
            std::printf("painted\n");
            std::fflush(stdout);
            g_signal_handlers_disconnect_matched(clock, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, (gpointer)1);
        }), (gpointer)1);
    }), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
}
