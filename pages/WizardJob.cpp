#include "pages/WizardJob.h"

WizardJob& TheWizardJob() {
    static WizardJob job;
    return job;
}
