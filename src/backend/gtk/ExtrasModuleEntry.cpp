#include "backend/gtk/AddressBookPeer.h"
#include "backend/gtk/ExtrasModule.h"

// The extras module's one entry point (see ExtrasModule::get).
extern "C" const backend::gtk::ExtrasModule* street_desktop_extras_module();

extern "C" const backend::gtk::ExtrasModule* street_desktop_extras_module()
{
    using namespace backend::gtk;
    static const ExtrasModule module{&SoundDecoder::decode, &AddressBookPeer::readAll};
    return &module;
}
