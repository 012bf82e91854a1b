#include "pages/WizardJob.h"

int TaskPage(std::int32_t task) {
    switch (task) {
    case TaskFirmware: return PageFirmFileIndex;
    case TaskNamePassword: return PageParamIndex;
    case TaskDhcpNat: return PageConfigIpIndex;
    case TaskLoopTest: return PageCircleTestIndex;
    case TaskRegister: return PageRegisterIndex;
    default: return -1;
    }
}

WizardJob& TheWizardJob() {
    static WizardJob job;
    return job;
}
