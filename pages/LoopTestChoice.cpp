#include "pages/LoopTestChoice.h"

#include "hci/DongleLink.h"

LoopTestChoice& TheLoopTestChoice() {
    static LoopTestChoice choice;
    return choice;
}

hci::CDongleLink& TheDongleLink() {
    static hci::CDongleLink link;
    return link;
}
