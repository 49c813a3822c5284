// The command bridge over arbitrary URL bytes. The client is started once and every input is one
// more load the page asks for, decided by the page delegate with whatever state the loads before
// it left (flags, timers, alerts, backgrounds, a Recruit screen). The input alone then picks what
// happens next, as the network and the player would: the load finishes, fails or stays in
// flight; time passes; an alert's button is pressed or a name typed into it.
#include "AppHarness.h"

#include "kit/AlertView.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& app = fuzz::AppHarness::instance();
    std::string url(reinterpret_cast<const char*>(data), size);
    std::uint64_t h = fuzz::inputHash(url);
    auto pick = [&h](unsigned n) {
        auto v = static_cast<unsigned>(h % n);
        h /= n;
        return v;
    };

    app.navigate(url);
    switch (pick(8)) {
    case 0:
    case 1:
    case 2:
        app.finish();
        break;
    case 3:
        app.fail(-1009, "The Internet connection appears to be offline.");
        break;
    case 4:
        app.fail(-999, "cancelled");
        break;
    case 5:
        app.fail(-1100, url);
        break;
    default:
        break;  // still in flight when the next one comes
    }
    // 0 to 2.1 s: fades run out, the indicator timer fires, the intro ends after a while.
    app.wait(pick(4) * 0.7);

    if (auto alert = kit::AlertView::frontmost()) {
        if (alert->textFieldAtIndex(0))
            app.type(url);
        app.press(pick(2));
    }
    // A player answers alerts; never let them pile up beyond a few.
    app.answerAlerts(4);
    if (app.modalShown() && pick(4) == 0)
        app.toolbar("Back");

    static unsigned count = 0;
    ++count;
    if (count % 256 == 0)
        app.state();
    // Timers a page set far in the future would otherwise only ever pile up.
    if (count % 4096 == 0)
        app.wait(1.0e9);
    return 0;
}
