// The desktop's sounds and intro movie against a private sound server (PulseAudio with a null
// output, started here), a muted one and none at all. Runs under ./dev test's display.

#include "backend/gtk/AudioOutput.h"
#include "backend/gtk/GLibRunLoopDriver.h"
#include "backend/gtk/SoundDecoder.h"
#include "kit/Platform.h"
#include "kit/AudioServices.h"
#include "kit/RunLoop.h"
#include "support/Desktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using backend::gtk::AudioOutput;
using backend::gtk::SoundDecoder;
using Clock = std::chrono::steady_clock;

std::string sound(const std::string& file) { return std::string(STREET_RESOURCES_DIR) + "/sounds/" + file; }

// A PulseAudio of our own with one null output, optionally muted, on a socket in a temp dir.
class SoundServer {
public:
    enum class Output { Playing, Muted };

    explicit SoundServer(Output output)
    {
        const std::string& dir = dir_.path();
        std::ofstream(dir + "/server.pa")
            << "load-module module-null-sink sink_name=out sink_properties=device.description=Null\n"
            << "load-module module-native-protocol-unix socket=" << dir << "/native auth-anonymous=1\n"
            << (output == Output::Muted ? "set-sink-mute out 1\n" : "");
        std::string command = "exec env -i HOME=" + dir + " XDG_RUNTIME_DIR=" + dir + " pulseaudio -n -F " + dir
            + "/server.pa --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes --log-target=file:"
            + dir + "/log.txt";
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        for (int i = 0; pid_ > 0 && i < 100 && !started(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~SoundServer()
    {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)
            ::waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0 && std::filesystem::exists(dir_.path() + "/native"); }
    std::string address() const { return "unix:" + dir_.path() + "/native"; }

private:
    scenario::TempDir dir_{"street-sound"};
    pid_t pid_ = -1;
};

// PULSE_SERVER for this process and the clients it starts, for one test.
class ServerAddress {
public:
    explicit ServerAddress(const std::string& address) { ::setenv("PULSE_SERVER", address.c_str(), 1); }
    ~ServerAddress() { ::unsetenv("PULSE_SERVER"); }
};

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs the pulseaudio program (./dev installs it) to run a private sound server";
    }
    std::string nowhere() const { return "unix:" + spare_.path() + "/no-server"; }
    scenario::TempDir spare_{"street-sound"};
};

TEST(SoundDecoderTest, DecodesAiffAndCafInPcmAndIma4)
{
    struct Case {
        const char* file;
        size_t frames;
        int rate;
    };
    // IMA4 comes in packets of 64 frames: the siren's 0.8 s is padded to whole packets.
    for (const Case& c : {Case{"tap.aif", 276, 11025}, Case{"horn.aif", 6615, 11025}, Case{"engine.caf", 13230, 11025},
                          Case{"brake.caf", 4410, 11025}, Case{"siren.caf", 17664, 22050}}) {
        auto decoded = SoundDecoder::decode(sound(c.file));
        ASSERT_TRUE(decoded) << c.file;
        EXPECT_EQ(decoded->frames(), c.frames) << c.file;
        EXPECT_EQ(decoded->rate, c.rate) << c.file;
        EXPECT_EQ(decoded->channels, 1) << c.file;
    }
}

TEST_F(SoundTest, RouteIsTheDefaultOutputUnlessMutedOrAbsent)
{
    SoundServer playing(SoundServer::Output::Playing), muted(SoundServer::Output::Muted);
    ASSERT_TRUE(playing.started() && muted.started());
    // A socket that takes the connection and never answers: the probe gives up in time.
    std::string silentPath = spare_.path() + "/silent";
    sockaddr_un address{AF_UNIX, {}};
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silentPath.c_str());
    int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_TRUE(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(silent, 4) == 0);

    struct Case {
        std::string server;
        bool answered;
        std::optional<std::string> route;
    };
    for (const Case& c : {Case{playing.address(), true, "Null"}, Case{muted.address(), true, std::nullopt},
                          Case{nowhere(), false, std::nullopt}, Case{"unix:" + silentPath, false, std::nullopt}}) {
        ServerAddress use(c.server);
        auto started = Clock::now();
        auto probe = AudioOutput::probeRoute(std::chrono::milliseconds(200));
        EXPECT_EQ(probe.server, c.answered) << c.server;
        EXPECT_EQ(probe.route, c.route) << c.server;
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(1)) << c.server;
    }
    ::close(silent);
}

// Sounds played through the kit as the application plays them, on the real run loop.
class PlaybackTest : public SoundTest {
protected:
    void SetUp() override
    {
        SoundTest::SetUp();
        if (IsSkipped())
            return;
        kit::Platform platform;
        platform.clock = kit::RunLoop::Clock::Real;
        platform.runLoopDriver = [](kit::RunLoop& loop) { return std::make_unique<backend::gtk::GLibRunLoopDriver>(loop); };
        session_.emplace(std::move(platform));
    }
    void TearDown() override
    {
        output_.reset();
        session_.reset();
    }
    std::optional<kit::PlatformSession> session_;
    void open(bool waitForServer = true)
    {
        output_ = std::make_unique<AudioOutput>();
        if (waitForServer)
            runUntil([&] { return output_->connected(); }, 2.0);
    }
    // Plays each file at once; returns the seconds from the start to each completion (-1: none).
    std::vector<double> playTogether(const std::vector<std::string>& files)
    {
        std::vector<double> ended(files.size(), -1);
        auto start = Clock::now();
        for (size_t i = 0; i < files.size(); ++i) {
            kit::SystemSoundID id = 0;
            EXPECT_EQ(kit::AudioServices::createSystemSoundID(sound(files[i]), &id), kit::kAudioServicesNoError) << files[i];
            kit::AudioServices::addSystemSoundCompletion(id, [&, i, start](kit::SystemSoundID done) {
                ended[i] = std::chrono::duration<double>(Clock::now() - start).count();
                kit::AudioServices::disposeSystemSoundID(done);
            });
            kit::AudioServices::playSystemSound(id);
        }
        runUntil([&] { return kit::AudioServices::liveSystemSoundCount() == 0; }, 5.0);
        return ended;
    }
    void runUntil(const std::function<bool()>& done, double seconds)
    {
        auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && Clock::now() < until)
            kit::RunLoop::main().runOnce(kit::RunLoop::toMicros(0.01));
    }
    std::unique_ptr<AudioOutput> output_;
};

TEST_F(PlaybackTest, OverlappingSoundsEachCompleteAfterTheirLength)
{
    SoundServer server(SoundServer::Output::Playing);
    ASSERT_TRUE(server.started());
    ServerAddress use(server.address());
    open();
    ASSERT_TRUE(output_->connected());

    std::vector<std::string> files{"horn.aif", "siren.caf", "engine.caf", "horn.aif"};
    auto ended = playTogether(files);
    for (size_t i = 0; i < files.size(); ++i) {
        double length = SoundDecoder::decode(sound(files[i]))->seconds();
        EXPECT_GE(ended[i], length - 0.005) << files[i];
        // The null output holds 2 s of sound before it counts as played.
        EXPECT_LT(ended[i], length + 3.0) << files[i];
    }
    EXPECT_EQ(output_->playingCount(), 0u);

    // A file that does not decode is no sound at all, as a missing one.
    scenario::TempDir dir;
    std::ofstream(dir.path() + "/broken.aif") << "FORM\0\0\0\x10" "AIFF" << std::string(64, '\x01');
    kit::SystemSoundID id = 0;
    EXPECT_NE(kit::AudioServices::createSystemSoundID(dir.path() + "/broken.aif", &id), kit::kAudioServicesNoError);
    EXPECT_EQ(kit::AudioServices::liveSystemSoundCount(), 0u);
}

TEST_F(PlaybackTest, WithoutAServerSoundsStillComplete)
{
    ServerAddress use(nowhere());
    open(false);
    EXPECT_FALSE(output_->connected());
    auto ended = playTogether({"tap.aif", "siren.caf"});
    EXPECT_GE(ended[0], 0.0);
    EXPECT_GE(ended[1], 0.0);
}

// The whole client in its window.
class DesktopSoundTest : public SoundTest {
protected:
    static void SetUpTestSuite() { server_ = new scenario::DemoServer(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        SoundTest::SetUp();
        if (IsSkipped())
            return;
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
        ASSERT_TRUE(server_->started());
    }
    scenario::Transcript run(const std::string& script, std::vector<std::string> args = {})
    {
        return scenario::runInWindow(script, server_->hostPort(), "10", args);
    }
    // The movie's own events in order ("prepare", "preloaded", "play", "frame", "end").
    static std::vector<std::string> movieSteps(const scenario::Transcript& t)
    {
        std::vector<std::string> steps;
        for (const auto& e : t.events("movie"))
            steps.push_back(e["event"]);
        return steps;
    }
    static double timeOf(const scenario::Transcript& t, const std::string& step)
    {
        auto events = t.events("movie");
        auto it = std::find_if(events.begin(), events.end(), [&](const auto& e) { return e["event"] == step; });
        return it == events.end() ? -1.0 : (*it)["t"].template get<double>();
    }
    std::string sounds() const
    {
        return "navigate " + server_->baseURL()
            + "/commands.php?invokeTapSound=true&invokeSoundCAF=siren&invokeVibrate=true&stopLoad=true\nwait 1.5\n";
    }
    static scenario::DemoServer* server_;
};

scenario::DemoServer* DesktopSoundTest::server_ = nullptr;

TEST_F(DesktopSoundTest, TheSoundServerIsTheSilentSwitchAndTheIntroPlaysBeforeTheFirstPage)
{
    SoundServer playing(SoundServer::Output::Playing), muted(SoundServer::Output::Muted);
    ASSERT_TRUE(playing.started() && muted.started());
    struct Case {
        std::string server;
        std::string movie;
    };
    for (const Case& c : {Case{playing.address(), "halvex_v1"}, Case{muted.address(), "halvex_no_sound_v1"},
                          Case{nowhere(), "halvex_no_sound_v1"}}) {
        ServerAddress use(c.server);
        auto t = run("wait 1\nstate\nwait 5.5\nstate\n" + sounds());
        ASSERT_NE(t.first("movie"), nullptr) << t.dump();
        EXPECT_EQ((*t.first("movie"))["name"], c.movie) << c.server;
        EXPECT_EQ(movieSteps(t), (std::vector<std::string>{"prepare", "preloaded", "play", "frame", "end"})) << t.dump();
        // The whole movie plays, in front of everything, and only then the page comes.
        EXPECT_GE(timeOf(t, "end") - timeOf(t, "play"), 2.9) << t.dump();
        auto states = t.states();
        ASSERT_EQ(states.size(), 2u);
        EXPECT_EQ(states[0]["window"]["layers"], 1) << c.server;
        EXPECT_FALSE(states[0]["webView"]["inView"]);
        EXPECT_EQ(states[1]["window"]["layers"], 0);
        EXPECT_TRUE(states[1]["webView"]["inView"]);
        // Page sounds play whatever the server: the tap and the named CAF sound, and the shake.
        std::vector<std::string> heard;
        for (const auto& s : t.events("sound"))
            heard.push_back(s["name"]);
        EXPECT_EQ(heard, (std::vector<std::string>{"tap", "siren"})) << c.server;
        EXPECT_EQ(t.count("vibrate"), 1u);
    }
}

TEST_F(DesktopSoundTest, AMovieThatCannotPlayEndsTheIntroAtOnce)
{
    scenario::TempDir resources;
    std::filesystem::copy(STREET_RESOURCES_DIR, resources.path(), std::filesystem::copy_options::recursive
                                                                    | std::filesystem::copy_options::overwrite_existing);
    for (const char* movie : {"halvex_v1.m4v", "halvex_no_sound_v1.m4v"})
        std::ofstream(resources.path() + "/movies/" + movie, std::ios::trunc) << "not a movie";
    ServerAddress use(nowhere());
    auto t = run("wait 4\nstate\n", {"--resources", resources.path()});
    // Ended by the error, without a preload or a frame, and the page came.
    EXPECT_EQ(movieSteps(t), (std::vector<std::string>{"prepare", "end"})) << t.dump();
    EXPECT_EQ((*t.events("movie").rbegin())["reason"], "error");
    ASSERT_EQ(t.states().size(), 1u);
    EXPECT_TRUE(t.states()[0]["webView"]["inView"]) << t.dump();
}

} // namespace

namespace {

// GStreamer without an audio sink (gstreamer1.0-plugins-good missing, here a registry of no
// plugins): the client says so once at start, in one line; a page that plays a sound then either
// goes on living or fails as a page whose process ended, and the next tab loads.
TEST(DesktopSound, WithoutAnAudioSinkTheClientSaysSoOnceAndAPagePlayingSoundIsNotLeftBlank)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {});
    ASSERT_TRUE(server.started());
    scenario::TempDir gst("street-gst");
    std::filesystem::create_directories(gst.path() + "/plugins");
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.environment = {{"GST_PLUGIN_SYSTEM_PATH_1_0", gst.path() + "/plugins"}, {"GST_PLUGIN_PATH_1_0", ""},
                           {"GST_REGISTRY_1_0", gst.path() + "/registry.bin"}};
    std::string base = server.baseURL();
    auto t = scenario::runScenario("wait 3\nnavigate " + base + "/sound.php\nwait 3\nstate\npress OK\ntap Street\nwait 2\nstate\n",
                                   {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server",
                                    server.hostPort()},
                                   options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    const std::string said = "street-client: GStreamer has no audio sink";
    size_t at = t.stderrText.find(said);
    ASSERT_NE(at, std::string::npos) << t.stderrText;
    EXPECT_EQ(t.stderrText.find(said, at + 1), std::string::npos) << "once";
    std::string line = t.stderrText.substr(at, t.stderrText.find('\n', at) - at);
    EXPECT_NE(line.find("gstreamer1.0-plugins-good"), std::string::npos) << line;
    auto states = t.states();
    ASSERT_EQ(states.size(), 2u) << t.dump();
    std::vector<nlohmann::json> failures;
    for (const auto& l : t.events("load-fail"))
        if (l["code"] != -999)
            failures.push_back(l);
    if (failures.empty()) {
        // The page lives: its title still counts.
        EXPECT_TRUE(states[0]["window"]["title"].get<std::string>().starts_with("alive ")) << states[0].dump();
    } else {
        ASSERT_EQ(failures.size(), 1u) << t.dump();
        EXPECT_EQ(failures[0]["url"], base + "/sound.php");
        EXPECT_EQ(failures[0]["code"], -3900);
        ASSERT_FALSE(states[0]["alerts"].empty()) << t.dump();
        EXPECT_EQ(states[0]["alerts"].back()["title"], "Unknown Error");
    }
    const auto* shown = t.last("load-finish");
    ASSERT_TRUE(shown) << t.dump();
    EXPECT_EQ((*shown)["url"], base + "/missions.php?showMissionsBg=true") << t.dump();
    EXPECT_EQ(states[1]["webView"]["url"], (*shown)["url"]);
    EXPECT_TRUE(states[1]["alerts"].empty()) << t.dump();
}

// With the system's plugins the line is not written.
TEST(DesktopSound, WithAnAudioSinkNothingIsSaidOfIt)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    auto t = scenario::runInWindow("wait 1\n", server.hostPort(), "0.2");
    EXPECT_EQ(t.stderrText.find("audio sink"), std::string::npos) << t.stderrText;
}

} // namespace
