#include "app/LoopTestChoice.h"

LoopTestChoice& TheLoopTestChoice() {
    static LoopTestChoice choice;
    return choice;
}
