// Pieces of the platform layer with rules of their own: URL texts, the device identity, the
// resource bundle, alerts, the tab bar, notifications and system sounds.

#include "app/SoundEffect.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/Bundle.h"
#include "kit/Device.h"
#include "kit/Events.h"
#include "kit/Image.h"
#include "kit/Label.h"
#include "kit/NotificationCenter.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/TabBar.h"
#include "kit/URL.h"
#include "kit/Window.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

struct Recorder : kit::EventSink {
    std::vector<std::string> events;
    void event(const std::string& name, nlohmann::json) override { events.push_back(name); }
    size_t count(const std::string& name) const { return static_cast<size_t>(std::count(events.begin(), events.end(), name)); }
};

class KitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::Platform platform;
        platform.events = &recorder;
        session.emplace(std::move(platform));
        kit::Bundle::setResourceDirectory(STREET_RESOURCES_DIR);
    }
    void TearDown() override { session.reset(); }
    std::optional<kit::PlatformSession> session;
    Recorder recorder;
};

TEST(URLTest, WhatMayStandAsAURLAndWhatMayLeaveTheApplication)
{
    const std::pair<const char*, bool> texts[] = {
        {"http://h/cars.php?showCarsBg=true&dt=ab+/c==", true}, {"https://example.org/a#frag", true}, {"http://h/a b", false},
        {"http://h/%zz", false}, {"http://h/%4", false}, {"http://h/a#b#c", false}, {"http://h/\"q\"", false},
        {"http://h/\xc3\xa9", false}, {"", true},
    };
    for (const auto& [text, valid] : texts)
        EXPECT_EQ(kit::URL::URLWithString(text).has_value(), valid) << text;
    // Only what cannot stand is escaped.
    EXPECT_EQ(kit::URL::URLWithSchemeHostPath("http", "h:8", "/p.php?a=1&model=Linux PC&b=x/y"), "http://h:8/p.php?a=1&model=Linux%20PC&b=x/y");
    EXPECT_EQ(kit::URL::URLWithSchemeHostPath("http", "h", "/?m=a#b%c\"\xc3\xa9"), "http://h/?m=a%23b%25c%22%C3%A9");

    const std::pair<const char*, bool> links[] = {
        {"http://example.org/", true}, {"HTTPS://example.org/x?y=1", true}, {"https://", false}, {"javascript:alert(1)", false},
        {"file:///etc/passwd", false}, {"data:text/html,hi", false}, {"mailto:a@example.org", false}, {"game://open", false},
        {"http:/nohost", false}, {"https://a.example/\nb", false}, {"https://a.example/ b", false}, {"no scheme", false},
    };
    for (const auto& [url, openable] : links)
        EXPECT_EQ(kit::Application::isOpenableURL(url), openable) << url;
}

TEST(ViewTree, FirstViewOfATypeIsFoundDepthFirstFromTheViewItself)
{
    auto root = std::make_shared<kit::View>();
    auto front = std::make_shared<kit::View>();
    auto nested = std::make_shared<kit::TabBar>();
    auto later = std::make_shared<kit::TabBar>();
    root->addSubview(front);
    front->addSubview(nested);
    root->addSubview(later);
    EXPECT_EQ(root->firstViewOfType<kit::View>(), root.get());
    EXPECT_EQ(root->firstViewOfType<kit::TabBar>(), nested.get()); // the first subview's tree before the next subview
    EXPECT_EQ(later->firstViewOfType<kit::TabBar>(), later.get());
    EXPECT_EQ(root->firstViewOfType<kit::Label>(), nullptr);
}

TEST(URLTest, ReferencesResolveAgainstTheBaseAsRFC3986Says)
{
    const char* base = "http://127.0.0.1:1/a/b/c.php?q=1#f";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        // relative paths and their dot segments
        {"d.php", "http://127.0.0.1:1/a/b/d.php"}, {"./", "http://127.0.0.1:1/a/b/"}, {".", "http://127.0.0.1:1/a/b/"},
        {"..", "http://127.0.0.1:1/a/"}, {"../d.php", "http://127.0.0.1:1/a/d.php"}, {"g/../h", "http://127.0.0.1:1/a/b/h"},
        {"../../../../g", "http://127.0.0.1:1/g"}, {"/./g", "http://127.0.0.1:1/g"}, {"/d/./e/../f", "http://127.0.0.1:1/d/f"},
        // queries: a new one replaces the base's; dots in it are no segments
        {"?x=1", "http://127.0.0.1:1/a/b/c.php?x=1"}, {"g?q=../x", "http://127.0.0.1:1/a/b/g?q=../x"}, {"g;x?y#s", "http://127.0.0.1:1/a/b/g;x?y#s"},
        // fragments: the document stays the base's
        {"#y", "http://127.0.0.1:1/a/b/c.php?q=1#y"}, {"#", "http://127.0.0.1:1/a/b/c.php?q=1#"}, {"", "http://127.0.0.1:1/a/b/c.php?q=1"},
        {"g#../x", "http://127.0.0.1:1/a/b/g#../x"},
        // scheme-relative and absolute
        {"//o.org/p", "http://o.org/p"}, {"//o.org/../p", "http://o.org/p"}, {"//h:99/p?x", "http://h:99/p?x"},
        {"HTTPS://X/a/../b", "https://X/b"}, {"http://h", "http://h/"}, {"http://[::1]:80/x", "http://[::1]:80/x"},
        // a host's escapes stay escaped (libcurl decodes them)
        {"http://127.0%EF%BF%BD.0.1:8642/x", "http://127.0%EF%BF%BD.0.1:8642/x"}, {"//a%7Fb/", "http://a%7Fb/"},
        // nothing libcurl reads
        {"mailto:a@b", std::nullopt}, {"javascript:x()", std::nullopt}, {"//", std::nullopt}, {"http://h:99999/", std::nullopt},
    };
    for (const auto& [reference, expected] : cases)
        EXPECT_EQ(kit::URL::resolve(base, reference), expected) << reference;

    EXPECT_EQ(kit::URL::resolve("https://h", "?x=1"), "https://h/?x=1");
    EXPECT_EQ(kit::URL::resolve("https://h", "#y"), "https://h/#y");
    for (const char* bad : {"", "notaurl", "/just/a/path", "//h/p", "foo://h/p", "http://h:99999/"})
        EXPECT_EQ(kit::URL::resolve(bad, "d.php"), std::nullopt) << bad;
}

TEST(DeviceIdentityTest, KeyedDigestOfTheMachineIdAndTheMachinesModelAndVersion)
{
    const std::string machineId = "0123456789abcdef0123456789abcdef";
    std::string id = kit::DeviceIdentity::identifierForMachineId(machineId);
    EXPECT_EQ(id.size(), 40u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(id, kit::DeviceIdentity::identifierForMachineId(machineId));
    EXPECT_NE(id, kit::DeviceIdentity::identifierForMachineId(machineId + "0"));
    EXPECT_EQ(id.find(machineId.substr(0, 16)), std::string::npos);

    scenario::TempDir dir;
    auto file = [&](const std::string& name, const std::string& text) { scenario::writeFile(dir.path() + "/" + name, text); return dir.path() + "/" + name; };
    EXPECT_EQ(kit::DeviceIdentity::identifierFromMachineId(file("machine-id", machineId + "\n")), id);
    EXPECT_EQ(kit::DeviceIdentity::identifierFromMachineId(dir.path() + "/missing"), "");
    EXPECT_EQ(kit::DeviceIdentity::model(file("product", "ThinkBox 14\n")), "ThinkBox 14");
    EXPECT_EQ(kit::DeviceIdentity::model(dir.path() + "/missing"), "Linux");
    EXPECT_EQ(kit::DeviceIdentity::systemVersion(file("os1", "NAME=\"Debian\"\nVERSION_ID=\"12\"\n")), "12");
    EXPECT_EQ(kit::DeviceIdentity::systemVersion(file("os2", "VERSION_ID=24.04\n")), "24.04");
    EXPECT_EQ(kit::DeviceIdentity::systemVersion(file("os3", "NAME=x\n")), "");
}

// At scale 2 and above a picture is drawn from its double-size file where one is packaged.
TEST(ImageTest, TheDoubleSizePictureServesScaleTwoAndAbove)
{
    scenario::TempDir dir;
    scenario::writeFile(dir.path() + "/bg.jpg", "x");
    scenario::writeFile(dir.path() + "/bg@2x.jpg", "x");
    scenario::writeFile(dir.path() + "/tick.png", "x");
    std::filesystem::create_directory(dir.path() + "/odd@2x.png");
    struct Case {
        std::string file;
        int scale;
        std::string drawn;
    };
    for (const Case& c : {Case{"bg.jpg", 1, "bg.jpg"}, Case{"bg.jpg", 2, "bg@2x.jpg"}, Case{"bg.jpg", 3, "bg@2x.jpg"},
                          Case{"bg.jpg", 0, "bg.jpg"}, Case{"tick.png", 2, "tick.png"}, Case{"odd.png", 2, "odd.png"}}) {
        kit::Image image(c.file, dir.path() + "/" + c.file);
        EXPECT_EQ(image.pathAtScale(c.scale), dir.path() + "/" + c.drawn) << c.file << " at " << c.scale;
    }
}

TEST_F(KitTest, BundleNeverLeavesTheResourceDirectory)
{
    EXPECT_TRUE(kit::Bundle::mainBundle().pathForResource("tap", "aif"));
    EXPECT_TRUE(kit::Bundle::mainBundle().pathForResource("bg_fight.jpg", ""));
    for (const char* name : {"../README", "..", "/etc/passwd", "images/../../dev", "nope"})
        EXPECT_FALSE(kit::Bundle::mainBundle().pathForResource(name, "")) << name;
}

TEST_F(KitTest, AlertButtonsFollowThePlatformsIndicesAndTheFrontmostIsTheLastShown)
{
    kit::AlertView withCancel("T", "M", nullptr, std::string("No"), {std::string("Yes")});
    EXPECT_EQ(withCancel.buttonTitles(), (std::vector<std::string>{"No", "Yes"}));
    EXPECT_EQ(withCancel.cancelButtonIndex(), 0);
    EXPECT_EQ(kit::AlertView("T", "M", nullptr, std::nullopt, {std::string("OK")}).buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_TRUE(kit::AlertView(std::nullopt, std::nullopt, nullptr, std::nullopt, {std::nullopt}).buttonTitles().empty());

    auto a = std::make_shared<kit::AlertView>("a", "", nullptr, std::nullopt, std::vector<std::optional<std::string>>{"OK"});
    auto b = std::make_shared<kit::AlertView>("b", "", nullptr, std::nullopt, std::vector<std::optional<std::string>>{"OK"});
    a->show();
    b->show();
    EXPECT_EQ(kit::AlertView::frontmost(), b);
    b->dismissWithClickedButtonIndex(0);
    EXPECT_EQ(kit::AlertView::frontmost(), a);
    a->dismissWithClickedButtonIndex(0);
    EXPECT_EQ(kit::AlertView::frontmost(), nullptr);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"alert", "alert", "alert-press", "alert-press"}));
}

// Keyboard focus starts from the key window: one that has gone must not be it any more.
TEST_F(KitTest, AWindowThatGoesIsNoLongerTheKeyWindow)
{
    auto window = std::make_shared<kit::Window>(kit::Rect(0, 0, 320, 480));
    window->makeKeyAndVisible();
    auto other = std::make_shared<kit::Window>(kit::Rect(0, 0, 320, 480));
    other.reset();
    EXPECT_EQ(kit::Application::sharedApplication().keyWindow(), window.get());
    window.reset();
    EXPECT_EQ(kit::Application::sharedApplication().keyWindow(), nullptr);
}

TEST_F(KitTest, TabBarDelegateHearsOnlyUserTaps)
{
    struct Delegate : kit::Object, kit::TabBarDelegate {
        int taps = 0;
        void didSelectItem(kit::TabBar&, kit::TabBarItem&) override { ++taps; }
    };
    auto delegate = std::make_shared<Delegate>();
    kit::TabBar bar;
    bar.setItems({std::make_shared<kit::TabBarItem>("A"), std::make_shared<kit::TabBarItem>("B")});
    bar.setDelegate(delegate);
    bar.setSelectedItem(bar.items()[1].get());
    EXPECT_EQ(bar.selectedIndex(), 1u);
    EXPECT_EQ(delegate->taps, 0);
    bar.userDidTapItem(0);
    EXPECT_EQ(bar.selectedIndex(), 0u);
    EXPECT_EQ(delegate->taps, 1);
    bar.setSelectedItem(nullptr);
    EXPECT_FALSE(bar.selectedIndex());
}

TEST_F(KitTest, ObserversMayRemoveThemselvesWhileBeingNotified)
{
    auto& center = kit::NotificationCenter::defaultCenter();
    center.reset();
    int first = 0, second = 0, a = 0, b = 0;
    center.addObserver(&a, "n", [&] {
        ++first;
        center.removeObserver(&a, "n");
        center.removeObserver(&b, "n");
    });
    center.addObserver(&b, "n", [&] { ++second; });
    center.postNotificationName("n");
    center.postNotificationName("n");
    EXPECT_EQ(std::make_pair(first, second), std::make_pair(1, 0));
}

TEST_F(KitTest, SoundEffectsPlayAFreshSystemSoundEachTimeAndDisposeOfIt)
{
    street::SoundEffect::playSoundFromBundledFile("no-such-sound", "aif");
    EXPECT_EQ(recorder.count("sound"), 0u);
    EXPECT_EQ(kit::AudioServices::liveSystemSoundCount(), 0u);
    street::SoundEffect::playSoundFromBundledFile("tap", "aif");
    street::SoundEffect::playSoundFromBundledFile("tap", "aif");
    EXPECT_EQ(recorder.count("sound"), 2u);
    EXPECT_EQ(kit::AudioServices::liveSystemSoundCount(), 2u);
    kit::RunLoop::main().advanceSeconds(5);
    EXPECT_EQ(kit::AudioServices::liveSystemSoundCount(), 0u);
    // A file that is not a sound never becomes a system sound.
    kit::SystemSoundID id = 0;
    EXPECT_NE(kit::AudioServices::createSystemSoundID(*kit::Bundle::mainBundle().pathForResource("bg_default.jpg", ""), &id),
              kit::kAudioServicesNoError);
}

} // namespace
