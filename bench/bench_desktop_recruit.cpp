// The Recruit table in a window: opening it with many contacts (reading and sectioning the
// address book, then drawing the first screen), and scrolling the whole list one frame at a
// time (each frame's drawing timed; the worst is reported). Without a display the program runs
// itself again under xvfb-run.
#include "app/RecruitABTableViewController.h"
#include "backend/gtk/TableViewPeer.h"
#include "backend/gtk/WindowPeer.h"

#include "kit/AddressBook.h"
#include "kit/Bundle.h"
#include "kit/Window.h"

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int tableWidth = 320, tableHeight = 376;

std::string contactsFile(int count)
{
    static const char* firsts[] = {"Anna", "bob", "Carl", "Dora", "Émile", "Fay", "gus", "Hana", "Ivo", "Jo", "Kim",
                                   "Lea", "Max", "Nia", "Oz", "Pia", "Quinn", "Rae", "Sol", "Tom", "Uma", "Vic",
                                   "Wes", "Xia", "Yan", "Zoe", "3M"};
    std::string path = std::filesystem::temp_directory_path()
        / ("street-bench-desktop-" + std::to_string(::getpid()) + "-" + std::to_string(count) + ".vcf");
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        const char* first = firsts[i % 27];
        out << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person" << i << ";" << first << ";;;\r\nTEL;TYPE=CELL:+1 555 02" << i
            << "\r\nEMAIL;TYPE=INTERNET:person" << i << "@example.test\r\nEND:VCARD\r\n";
    }
    return path;
}

// The table as the screen has it, alone in a window of its own.
struct Screen {
    std::shared_ptr<street::RecruitABTableViewController> controller;
    std::shared_ptr<kit::TableView> table;
    std::shared_ptr<kit::Window> model = std::make_shared<kit::Window>(kit::Rect(0, 0, tableWidth, tableHeight));
    std::shared_ptr<backend::gtk::WindowPeer> window;
    backend::gtk::TableViewPeer* peer = nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tableWidth, tableHeight);

    Screen()
    {
        table = std::make_shared<kit::TableView>(kit::Rect(0, 0, tableWidth, tableHeight));
        controller = std::make_shared<street::RecruitABTableViewController>();
        controller->setView(table);
        table->setDataSource(controller);
        table->setDelegate(controller);
        model->addSubview(table);
        window = std::make_shared<backend::gtk::WindowPeer>(*model, 1);
        model->setPeer(window);
        window->sync();
        gtk_widget_show(GTK_WIDGET(window->gtkWindow()));
        peer = dynamic_cast<backend::gtk::TableViewPeer*>(table->peer());
        peer->update();
    }
    ~Screen()
    {
        model->setPeer(nullptr);
        cairo_surface_destroy(surface);
    }
    // What "Continue" does: read and section the book, reload the table.
    void open()
    {
        controller->init();
        controller->loadView();
        table->reloadData();
    }
    void drawFrame()
    {
        cairo_t* cr = cairo_create(surface);
        gtk_widget_draw(peer->widget(), cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
};

bool display()
{
    static bool ok = gtk_init_check(nullptr, nullptr);
    kit::Bundle::setResourceDirectory(STREET_RESOURCES_DIR);
    return ok;
}

void BM_OpenRecruitTable(benchmark::State& state)
{
    if (!display()) {
        state.SkipWithError("needs a display (run under xvfb-run)");
        return;
    }
    std::string path = contactsFile(static_cast<int>(state.range(0)));
    kit::AddressBook::setPath(path);
    for (auto _ : state) {
        state.PauseTiming();
        Screen screen;
        state.ResumeTiming();
        screen.open();
        screen.drawFrame();
    }
    kit::AddressBook::setPath("");
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenRecruitTable)->Arg(10000)->Unit(benchmark::kMillisecond);

// A flick's pace: 8 points a frame (480 points a second at 60 frames a second).
void BM_ScrollWholeList(benchmark::State& state)
{
    if (!display()) {
        state.SkipWithError("needs a display (run under xvfb-run)");
        return;
    }
    std::string path = contactsFile(static_cast<int>(state.range(0)));
    kit::AddressBook::setPath(path);
    Screen screen;
    screen.open();
    double worst = 0;
    long frames = 0;
    for (auto _ : state) {
        for (double y = 0; y <= screen.peer->maxOffset() + 8; y += 8) {
            auto start = std::chrono::steady_clock::now();
            screen.peer->scrollTo(y);
            screen.drawFrame();
            worst = std::max(worst, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            ++frames;
        }
    }
    state.counters["worst_frame_ms"] = worst;
    state.counters["frames"] = static_cast<double>(frames);
    kit::AddressBook::setPath("");
    std::filesystem::remove(path);
}
BENCHMARK(BM_ScrollWholeList)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("STREET_BENCH_XVFB")) {
        std::string command = "env STREET_BENCH_XVFB=1 xvfb-run -a -s '-screen 0 1280x1024x24'";
        for (int i = 0; i < argc; ++i)
            command += std::string(" '") + argv[i] + "'";
        return std::system(command.c_str()) == 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
