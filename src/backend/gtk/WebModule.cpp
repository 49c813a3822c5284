#include "backend/gtk/WebModule.h"

#include "backend/gtk/ExtrasModule.h"

#include <dlfcn.h>
#include <filesystem>

// Defined where the modules' code is linked into the program itself; otherwise looked up in the
// module files.
extern "C" __attribute__((weak)) const backend::gtk::WebModule* street_desktop_web_module();
extern "C" __attribute__((weak)) const backend::gtk::ExtrasModule* street_desktop_extras_module();

namespace backend::gtk {

namespace {

// A module's table, the first time from its file beside the window's own module.
std::filesystem::path besideThisModule(const char* file)
{
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&besideThisModule), &self) && self.dli_fname)
        return std::filesystem::path(self.dli_fname).parent_path() / file;
    return file;
}

template<typename Table>
class Loader {
public:
    using Entry = const Table* (*)();

    const Table* get(Entry linkedIn, const char* file, const char* symbol, int flags, std::string* why)
    {
        if (!table_ && failure_.empty()) {
            if (linkedIn) {
                table_ = linkedIn();
            } else {
                std::filesystem::path path = besideThisModule(file);
                void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | flags);
                auto entry = handle ? reinterpret_cast<Entry>(dlsym(handle, symbol)) : nullptr;
                if (entry) {
                    table_ = entry();
                } else {
                    const char* said = dlerror();
                    failure_ = said ? said : path.string() + ": " + symbol + " not found";
                }
            }
        }
        if (!table_ && why)
            *why = failure_;
        return table_;
    }
    bool loaded(Entry linkedIn) const { return table_ || linkedIn; }

private:
    const Table* table_ = nullptr;
    std::string failure_;
};

// WebKit's libraries resolve many thousands of symbols as they load, most of them in each other.
// Looked up in the program's own libraries first, as usual, each lookup passes some forty that
// never have them: WebKit's own come first instead (about 30 ms sooner on the window's way to its
// page). The sanitizers' runtime must see every allocation, so there they are looked up as usual.
#if defined(__SANITIZE_ADDRESS__)
#define STREET_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STREET_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef STREET_ADDRESS_SANITIZER
constexpr int webLookups = 0;
#else
constexpr int webLookups = RTLD_DEEPBIND;
#endif

Loader<WebModule> web;
Loader<ExtrasModule> extras;

} // namespace

const WebModule* WebModule::get(std::string* why)
{
    return web.get(street_desktop_web_module, fileName, "street_desktop_web_module", webLookups, why);
}

const ExtrasModule* ExtrasModule::get(std::string* why)
{
    return extras.get(street_desktop_extras_module, fileName, "street_desktop_extras_module", 0, why);
}

bool ExtrasModule::loaded() { return extras.loaded(street_desktop_extras_module); }

} // namespace backend::gtk
