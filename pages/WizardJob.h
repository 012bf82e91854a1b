// What the wizard's pages tell each other: the chosen task, the connection state, the
// chosen firmware files, the masks of changed parameters and the task visibility
// switches. One instance for the process (TheWizardJob), used on the user-interface
// thread only, so it has no lock.
#pragma once

#include <cstdint>
#include <string>

enum WizardTask : std::int32_t {
    TaskFirmware = 0,
    TaskNamePassword = 1,
    TaskDhcpNat = 2,
    TaskLoopTest = 3,
    TaskRegister = 4,
};

enum LinkState : std::int32_t {
    LinkNotConnected = 0,
    LinkListening = 1,
    LinkConnected = 2,
};

// Sheet indices of the pages, in the order the window adds them: the pages' Back and
// Next rules name the page they lead to by these.
enum PageIndex : int {
    PageWelcomeIndex = 0,
    PagePasswdIndex = 1,
    PageLinkIndex = 2,
    PageParamIndex = 3,
    PageRegisterIndex = 4,
    PageFirmFileIndex = 5,
    PageConfigIpIndex = 6,
    PageCircleTestIndex = 7,
    PageBurnIndex = 8,
    PageCount = 9,
};

struct WizardJob {
    std::int32_t task = TaskFirmware;
    std::int32_t linkState = LinkNotConnected;
    std::string connectedWith;          // 17 characters, "00:1a:7d:da:71:13"
    std::int32_t updateBoot = 0;
    std::int32_t updateProgram = 0;
    std::string bootFile;
    std::string programFile;
    std::uint32_t modifiedMask = 0;     // parameter 12 of a parameter download
    std::uint32_t registerMask = 0;     // parameter 58 of a parameter download
    std::int32_t showLoopTest = 0;      // not 0: the connection page offers the task
    std::int32_t showDhcp = 0;
    std::int32_t showRegister = 0;
};

// The page that takes the task's inputs: where the connection page's Next leads and the
// download page's Back returns; -1 for a task that has none.
int TaskPage(std::int32_t task);

WizardJob& TheWizardJob();
