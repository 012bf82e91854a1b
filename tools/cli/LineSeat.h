// One target's place on a production line: the run of the operation for that target
// logs in over the line's one driver and writes the line's one pair of link files, and
// the line hears what happens on the way (to draw its table, and to stop the run on
// Ctrl-C).
#pragma once

#include <string>

#include "fdp/LinkEvent.h"

namespace fdp {
class CLinkDispatcher;
class CLinkFiles;
}  // namespace fdp

namespace cli {

class CCliFrontEnd;

class ILineSeat {
public:
    virtual fdp::CLinkDispatcher& Dispatcher() = 0;
    virtual fdp::CLinkFiles& Files() = 0;
    // The run's link is made (front: where its waits are, to interrupt them) or gone
    // (null). On the run's thread.
    virtual void LinkMade(CCliFrontEnd* front) = 0;
    // Every event of the run's session, as its sink gets it (the link's threads).
    virtual void OnEvent(const fdp::LinkEvent& event) = 0;
    // The target runs the file's version already: nothing was sent (the run's thread).
    virtual void AlreadyHas(const std::string& version) = 0;

protected:
    ~ILineSeat() = default;
};

}  // namespace cli
