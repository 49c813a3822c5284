#pragma once

#include "kit/AddressBook.h"

#include <optional>
#include <vector>

namespace backend::gtk {

// The desktop's own address books: those of the desktop's contacts service (Evolution Data
// Server), which the desktop's contacts and mail programs keep. Read only, never written.
class AddressBookPeer {
public:
    // How long the service has to answer before it is taken as absent.
    static constexpr double answerSeconds = 2.0;
    // A book the service lists may need its own process started first (the first read after
    // login), and a large one takes time to hand over its contacts.
    static constexpr double connectSeconds = 10.0;
    static constexpr double readSeconds = 30.0;

    // Every enabled address book, its contacts mapped exactly as the vCard reader maps a file's,
    // in no particular order (the service keeps none; the kit's address book orders them). None
    // when the service does not answer (or has no book that answers). Waits on a private main
    // context: nothing else of the program runs meanwhile.
    static std::optional<std::vector<kit::ABPerson>> readAll();
};

} // namespace backend::gtk
