#include "backend/gtk/Runner.h"

#include "backend/gtk/AlertViewPeer.h"
#include "backend/gtk/ApplicationPeer.h"
#include "backend/gtk/AudioOutput.h"
#include "backend/gtk/DesktopMoviePlayer.h"
#include "backend/gtk/ExchangeWaiter.h"
#include "backend/gtk/ExtrasModule.h"
#include "backend/gtk/GLibRunLoopDriver.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/PageEngine.h"
#include "backend/gtk/ScriptPlayer.h"
#include "backend/gtk/WebModule.h"
#include "backend/gtk/WebSandbox.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/AddressBook.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AtomicFile.h"
#include "kit/CookieJar.h"
#include "kit/Events.h"
#include "kit/FocusModel.h"
#include "kit/MoviePlayerController.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/Screen.h"
#include "kit/URLConnection.h"
#include "kit/Window.h"
#include "shell/Launch.h"
#include "shell/Recorder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <gst/gst.h>
#include <gtk/gtk.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backend::gtk {

namespace {

// The pages' maker, kept for the life of the process (see the end of run).
PageEngineMaker* lastingPages = nullptr;

// WebKit still asks EGL, as each web process starts, which render device to hand it, and the
// answer loads Mesa and LLVM into the window's process (some 20 ms of work while the first web
// process starts beside it, and as many MB) for a window that never draws with GL. The GL
// dispatcher (libglvnd) reads its list of drivers once, at its first call: made here with an
// empty list, this process gets none and WebKit hears "no device", as it does on a machine
// without a GPU; the web processes, which do need EGL, start after the list is put back and
// find their drivers as usual. A player's own list is left alone.
void leaveOutGLDrivers()
{
    constexpr const char* vendors = "__EGL_VENDOR_LIBRARY_FILENAMES";
    if (std::getenv(vendors) || std::getenv("__EGL_VENDOR_LIBRARY_DIRS"))
        return;
    void* egl = ::dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!egl)
        return; // WebKit cannot load without it either, and says so
    // eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS): the dispatcher loads its drivers to answer.
    using QueryString = const char* (*)(void* display, std::int32_t name);
    constexpr std::int32_t eglExtensions = 0x3055;
    ::setenv(vendors, "", 1);
    if (auto query = reinterpret_cast<QueryString>(::dlsym(egl, "eglQueryString")))
        query(nullptr, eglExtensions);
    ::unsetenv(vendors);
    // Kept loaded: WebKit's EGL is this same library, with the list it has read.
}

// Pages are drawn on the CPU (a small page needs no GPU), so neither GTK nor WebKit's compositing
// needs GL: left to themselves, GTK probes GLX visuals when it starts and WebKit asks EGL for a
// buffer format when its context is made, each loading Mesa and LLVM into the window's process.
// A player's own setting of any of these is kept. Set before GTK starts, while no other thread
// reads the environment; web processes inherit them.
void drawWithoutGL()
{
    ::setenv("GDK_GL", "disable", 0);
    ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    ::setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
    leaveOutGLDrivers();
}

// On the way to the first page GTK and WebKit each open the session bus and wait for it (the
// web view's drag and drop asks after the file-transfer portal, the first web process's launch
// asks again), while the window's process is all that stands between the player and the page.
// Opened here without waiting, and kept for the process's life (a bus nobody holds is closed
// again), it is there when they ask.
void openSessionBusAhead()
{
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, +[](GObject*, GAsyncResult* result, gpointer) {
        static GDBusConnection* kept = nullptr;
        if (!kept)
            kept = g_bus_get_finish(result, nullptr);
    }, nullptr);
}

// What the process writes to stderr while this lives is kept aside; release() says it after
// all, or drops it. Kept in a memory file rather than a pipe: no writer blocks or is lost, and a
// child started meanwhile (a session bus, say) that keeps it as its stderr writes into a file no
// one reads rather than a broken pipe.
class HeldStderr {
public:
    HeldStderr()
    {
        int held = ::memfd_create("street-client-held-stderr", MFD_CLOEXEC);
        if (held < 0)
            return;
        std::fflush(stderr);
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (saved_ < 0 || ::dup2(held, STDERR_FILENO) < 0) {
            if (saved_ >= 0)
                ::close(saved_);
            saved_ = -1;
            ::close(held);
            return;
        }
        held_ = held;
    }
    ~HeldStderr() { release(true); }
    HeldStderr(const HeldStderr&) = delete;
    HeldStderr& operator=(const HeldStderr&) = delete;

    void release(bool say)
    {
        if (held_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        char chunk[4096];
        for (off_t at = 0; say;) {
            ssize_t n = ::pread(held_, chunk, sizeof chunk, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            at += n;
            for (ssize_t written = 0; written < n;) {
                ssize_t w = ::write(STDERR_FILENO, chunk + written, static_cast<size_t>(n - written));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0)
                    break;
                written += w;
            }
        }
        ::close(held_);
        held_ = saved_ = -1;
    }

private:
    int held_ = -1;
    int saved_ = -1;
};

// Brings the pages' engine in once the window has drawn (see run).
class WebStart {
public:
    WebStart(PageSettings settings, std::unique_ptr<PageEngineMaker>& pages, bool& closed, int& status,
             DesktopMoviePlayer::Factory& movies)
        : settings_(std::move(settings)), pages_(pages), closed_(closed), status_(status), movies_(movies)
    {
    }
    ~WebStart()
    {
        cancel();
        if (sinkCheck_)
            g_source_remove(sinkCheck_);
    }
    WebStart(const WebStart&) = delete;
    WebStart& operator=(const WebStart&) = delete;

    void afterFirstFrame(GtkWindow* window)
    {
        window_ = GTK_WIDGET(window);
        movies_.onFirstFrameDone = [this] { due(); };
        g_signal_connect_after(window_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer data) -> gboolean {
            auto* self = static_cast<WebStart*>(data);
            if (!self->drawn_) {
                self->drawn_ = true;
                kit::emit("window", {{"event", "first-frame"}});
            }
            self->due();
            return FALSE;
        }), this);
        fallback_ = g_timeout_add(1000, +[](gpointer self) -> gboolean {
            auto* start = static_cast<WebStart*>(self);
            start->fallback_ = 0;
            start->begin();
            return G_SOURCE_REMOVE;
        }, this);
    }

    void cancel()
    {
        movies_.onFirstFrameDone = nullptr;
        if (window_)
            g_signal_handlers_disconnect_by_data(window_, this);
        window_ = nullptr;
        for (guint* source : {&fallback_, &idle_})
            if (*source)
                g_source_remove(std::exchange(*source, 0));
    }

private:
    void due()
    {
        if (!drawn_ || movies_.firstFrameDue() || idle_ || started_)
            return;
        // Once the frame is out: an idle comes after the drawing and its flush.
        idle_ = g_idle_add_full(G_PRIORITY_LOW, +[](gpointer self) -> gboolean {
            auto* start = static_cast<WebStart*>(self);
            start->idle_ = 0;
            start->begin();
            return G_SOURCE_REMOVE;
        }, this, nullptr);
    }

    void begin()
    {
        if (started_)
            return;
        started_ = true;
        cancel();
        gdk_display_flush(gdk_display_get_default());
        std::string why;
        const WebModule* module = WebModule::get(&why);
        if (!module) {
            std::fprintf(stderr, "street-client: no page is shown: the web engine cannot be loaded (%s)\n", why.c_str());
            status_ = 1;
            closed_ = true;
            return;
        }
        pages_ = module->makePages(settings_);
        LatePageEngine::setMaker(pages_.get());
        // Once the first page's process is under way (reading GStreamer's registry would hold up
        // its start): WebKit plays a page's sound through GStreamer's autoaudiosink; without it,
        // a page that plays one takes its own process down (and fails as any page whose process
        // ended).
        sinkCheck_ = g_timeout_add(500, +[](gpointer self) -> gboolean {
            static_cast<WebStart*>(self)->sinkCheck_ = 0;
            gst_init(nullptr, nullptr);
            if (GstElementFactory* sink = gst_element_factory_find("autoaudiosink"))
                gst_object_unref(sink);
            else
                std::fprintf(stderr, "street-client: GStreamer has no audio sink (autoaudiosink, from gstreamer1.0-plugins-good): "
                                     "a page that plays sound stops with \"The page stopped responding.\"\n");
            return G_SOURCE_REMOVE;
        }, this);
    }

    PageSettings settings_;
    std::unique_ptr<PageEngineMaker>& pages_;
    bool& closed_;
    int& status_;
    DesktopMoviePlayer::Factory& movies_;
    GtkWidget* window_ = nullptr;
    guint fallback_ = 0;
    guint idle_ = 0;
    guint sinkCheck_ = 0;
    bool drawn_ = false;
    bool started_ = false;
};

} // namespace

int run(const shell::Options& options, const shell::AppHooks& hooks)
{
    std::optional<shell::Script::Parsed> script;
    if (!shell::loadScript(options, script))
        return 2;

    // Nothing the window, GTK or WebKit's processes write may be readable by other users.
    ::umask(077);

    auto noDisplay = [] {
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        std::fprintf(stderr, "street-client: cannot open the display (DISPLAY=%s, WAYLAND_DISPLAY=%s); "
                             "use --headless to run without one\n",
                     display ? display : "", wayland ? wayland : "");
        return 1;
    };
    // Without a display there is nothing to show, and that is what the player must hear first.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        return noDisplay();

    drawWithoutGL();
    // Pages run only in WebKit's sandbox, unless the player has turned it off. The trial runs
    // while GTK starts; GTK's own words (the accessibility bridge's warnings, say) are held
    // until its outcome is told, and dropped with a refusal, which is all the player is told.
    std::optional<WebSandbox::Trial> trial;
    std::optional<HeldStderr> gtkSays;
    if (WebSandbox::optedOut())
        std::fprintf(stderr, "street-client: %s=1: pages run without WebKit's sandbox and can reach your files\n",
                     WebSandbox::optOutVariable);
    else
        trial.emplace();
    // The window's class and the dock's launcher entry name the application by its desktop id.
    g_set_prgname(ApplicationPeer::applicationId);
    g_set_application_name("street-client");
    if (trial)
        gtkSays.emplace();
    bool displayOpened = gtk_init_check(nullptr, nullptr);
    if (auto failure = trial ? trial->failure() : std::nullopt) {
        gtkSays->release(false);
        std::fprintf(stderr, "street-client: no page is shown: the web sandbox cannot start, %s; "
                             "%s=1 shows pages without it, where they can reach your files\n",
                     failure->c_str(), WebSandbox::optOutVariable);
        return 1;
    }
    gtkSays.reset();
    if (!displayOpened)
        return noDisplay();
    // X11's class too (GDK would capitalise it), as the desktop entry's StartupWMClass has it.
    gdk_set_program_class(ApplicationPeer::applicationId);
    openSessionBusAhead();

    std::unique_ptr<shell::TranscriptWriter> transcript;
    std::unique_ptr<shell::Recorder> recorder;
    if (!shell::openTranscript(options, transcript) || !shell::Recorder::openFor(options, transcript.get(), recorder))
        return 2;
    std::signal(SIGPIPE, SIG_IGN);

    int scale = options.scale.value_or(WindowPeer::fittingScale());
    // The desktop's sound output is the silent switch, unless the command line names a route.
    // A server that is slow to answer must not hold the window back for long.
    auto output = AudioOutput::probeRoute(std::chrono::milliseconds(200));
    auto alerts = std::make_unique<AlertViewPeer>();
    // Site data (cookies.sqlite) beside the settings when the command line names a data
    // directory (a test's own), else where the desktop keeps programs' data. Both directories
    // are the player's alone, and so is everything in the client's own data directory (an
    // earlier version left it open); a directory named on the command line may hold other files.
    std::string siteData = options.dataDir.value_or(std::string(g_get_user_data_dir()) + "/street-client");
    std::string webCache = std::string(g_get_user_cache_dir()) + "/street-client";
    // The makers outlive the session: the kit lets go of what they made before they go. The
    // pages' maker comes with the web module, once the window is up (see startPages).
    std::unique_ptr<PageEngineMaker> pages;
    DesktopMoviePlayer::Factory movies(options.movieSeconds, output.server);
    kit::Platform platform;
    platform.clock = kit::RunLoop::Clock::Real;
    platform.runLoopDriver = [](kit::RunLoop& loop) { return std::make_unique<GLibRunLoopDriver>(loop); };
    platform.engines = [](kit::WebView& view) { return std::make_unique<LatePageEngine>(view); };
    platform.movies = [&movies](kit::MoviePlayerController& controller) { return movies(controller); };
    // Unless --contacts names a file: the desktop's address books, else the default file.
    platform.addressBook = []() -> std::optional<std::vector<kit::ABPerson>> {
        auto* module = ExtrasModule::get();
        return module ? module->readAddressBooks() : std::nullopt;
    };
    platform.events = shell::Recorder::sink(recorder.get(), transcript.get());
    platform.alerts = alerts.get();
    kit::PlatformSession session(std::move(platform));
    shell::configureKit(options, recorder ? recorder->watching(hooks) : hooks, true);
    if (recorder)
        recorder->begin(shell::Recorder::Movie::AsPlayed);
    InputRecord::setRecorder(recorder.get());
    // WebKit keeps the window's cookies (cookies.sqlite); the kit's jar only mirrors them for the
    // invite post, so it keeps no file of its own here.
    kit::CookieJar::resetShared();
    auto services = std::make_unique<ApplicationPeer>(options.recordOpenURLs, options.iconBadge);
    if (!options.audioRoute)
        kit::AudioServices::setAudioRoute(output.route);
    auto sound = std::make_unique<AudioOutput>();
    kit::AtomicFile::makeDirectories(siteData);
    kit::AtomicFile::makeDirectories(webCache);
    kit::AtomicFile::makePrivate(siteData, options.dataDir ? kit::AtomicFile::Depth::DirectoryOnly
                                                           : kit::AtomicFile::Depth::WholeTree);
    kit::AtomicFile::makePrivate(webCache, kit::AtomicFile::Depth::DirectoryOnly);
    WindowPeer::installStyle(scale);

    // Without its main interface there is no game to show: a broken install says so by its status.
    int status = shell::launch(hooks) ? 0 : 1;

    bool closed = false;
    std::shared_ptr<WindowPeer> window;
    if (status != 0) {
        closed = true;
    } else if (kit::Window* model = kit::Application::sharedApplication().keyWindow()) {
        window = std::make_shared<WindowPeer>(*model, scale, kit::Screen::mainScreen().applicationFrame());
        model->setPeer(window);
        alerts->setWindow(window.get());
        movies.setWindow(window.get());
        sound->setWindow(window.get());
        services->setWindow(window.get());
        window->onClose = [&closed] { closed = true; };
        // Keys go to the kit's focus model first; the page (WebKit) takes those it passes on.
        kit::FocusModel::setPageTakesKeys(true);
        kit::FocusModel::setObserver([&alerts, peer = window.get()] {
            alerts->showFocus();
            peer->showFocus();
        });
        window->sync();
        g_signal_connect(window->gtkWindow(), "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
            kit::emit("window", {{"event", "mapped"}});
            return FALSE;
        }), nullptr);
        gtk_widget_show(GTK_WIDGET(window->gtkWindow()));
    } else {
        std::fprintf(stderr, "street-client: the main interface has no window\n");
        closed = true;
        status = 1;
    }
    auto stop = +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_CONTINUE;
    };
    guint interrupt = g_unix_signal_add(SIGINT, stop, &closed);
    guint terminate = g_unix_signal_add(SIGTERM, stop, &closed);

    // WebKit, and the rest of the web module, once the player sees the window: after its first
    // frame, and the intro's first frame when one is on its way (or a second at most).
    WebStart web{PageSettings{siteData, webCache, options.loadTimeout, scale}, pages, closed, status, movies};
    if (window)
        web.afterFirstFrame(window->gtkWindow());

    if (window) {
        // The invite post waits here with the window drawing, the kit's run loop held.
        ExchangeWaiter waiter(window->gtkWindow(), closed);
        kit::URLConnection::setWaiter(&waiter);
        ScriptPlayer player(hooks, *window, *alerts, movies, closed);
        player.setRecorder(recorder.get());
        while (!closed && !gtk_widget_get_mapped(GTK_WIDGET(window->gtkWindow())))
            kit::RunLoop::main().runOnce(kit::RunLoop::toMicros(0.1));
        player.turn();
        if (script) {
            for (const auto& command : script->commands)
                if (closed || !player.play(command))
                    break;
        } else {
            while (!closed)
                kit::RunLoop::main().runOnce(kit::RunLoop::toMicros(1.0));
        }
        kit::URLConnection::setWaiter(nullptr);
    }

    g_source_remove(interrupt);
    g_source_remove(terminate);
    InputRecord::setRecorder(nullptr);
    if (recorder)
        recorder->end();
    // The kit lets go of every peer and factory first; then the peers themselves go.
    shell::finishKit(session);
    LatePageEngine::setMaker(nullptr);
    alerts.reset();
    movies.setWindow(nullptr);
    sound->setWindow(nullptr);
    services->setWindow(nullptr);
    window.reset();
    web.cancel();
    // WebKit's context stays until the process ends: one let go of while its web process is still
    // being started (a window closed in its first moments) is called back into afterwards.
    lastingPages = pages.release();
    sound.reset();
    services.reset();
    // Let the window's and the web view's last messages go out before the process ends.
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
    return status;
}

} // namespace backend::gtk

int street_desktop_run(const shell::Options* options, const shell::AppHooks* hooks)
{
    return backend::gtk::run(*options, *hooks);
}
