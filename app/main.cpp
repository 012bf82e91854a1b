// kelvane: reads its options, opens what needs a privilege, gives every privilege up,
// and only then lets the toolkit run (which reads plugins, styles and settings named by
// the environment, and must never do so with a capability held).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/KelvaneApp.h"
#include "app/KelvaneOptions.h"
#include "fdp/CapabilityDrop.h"
#include "fdp/LinkBroker.h"
#include "hci/HciTransport.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

int main(int argc, char** argv) {
    if (!res::UseSystemLanguage())
        std::fprintf(stderr, "kelvane: cannot read the translation %s; the texts stay English\n",
                     res::UnreadCatalogue().c_str());
    const CKelvaneOptions options = CKelvaneOptions::Parse(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "kelvane: %s\n%s", options.error.c_str(), res::Text(CKelvaneOptions::UsageText()).c_str());
        return 1;
    }
    if (options.help || options.helpAll) {
        std::fputs(res::Text(CKelvaneOptions::HelpText()).c_str(), stdout);
        if (options.helpAll) std::fputs(res::Text(CKelvaneOptions::QtOptionsText()).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kelvane %s\n", KELVANE_VERSION);
        return 0;
    }
    if (!options.HasDisplay(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
        std::fprintf(stderr, "kelvane: %s\n", res::LoadString(res::IDS_NEEDS_GRAPHICAL_SESSION).c_str());
        return 1;
    }

    // The link's packet socket, held by the link broker process from here on, and the
    // loop test's controller when it is an hciN: the only calls that need a capability.
    // The wizard itself keeps no raw socket. A failure is told when the link starts.
    const fdp::LinkBrokerHandle broker = fdp::StartLinkBroker();
    hci::PreopenHciTransport(options.dongleDevice);
    if (std::string error; !fdp::DropCapabilities(error)) {
        std::fprintf(stderr, "kelvane: %s\n", error.c_str());
        return 1;
    }

    CKelvaneApp app(argc, argv, options, broker);
    return app.InitInstance();
}
