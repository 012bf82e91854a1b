#include "tools/cli/LoginPasswords.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/cli/ExitCodes.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/SecretInput.h"

namespace cli {

std::optional<int> ResolvePasswords(CliOptions& options) {
    CSecretInput secrets;
    std::string error;
    // A signal while the terminal reads without echo: the echo comes back first.
    CInterrupt::SetHook([] {
        CSecretInput::RestoreTerminal();
        ::_exit(128 + CInterrupt::Signal());
    });
    struct HookEnd {
        ~HookEnd() { CInterrupt::SetHook({}); }
    } hookEnd;
    // A file that cannot be read is a file error; two sources at once, wrong usage;
    // Ctrl-C at a password prompt ends the tool as Ctrl-C does.
    const auto fail = [&](const std::optional<std::string>& file) {
        if (secrets.Interrupted()) return 128 + SIGINT;
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return file && error.find(*file) != std::string::npos ? ExitFiles : ExitUsage;
    };
    for (const auto& file : {options.passwordFile, options.newPasswordFile})
        if (file) {
            if (const std::string warning = CSecretInput::ExposureWarning(*file); !warning.empty())
                std::fprintf(stderr, "kelvane-cli: %s\n", warning.c_str());
        }
    const auto login = secrets.Resolve(options.passwordArg, options.passwordFile, "KELVANE_PASSWORD",
                                       options.password, error);
    if (!login) return fail(options.passwordFile);
    options.password = *login;
    auto& operation = options.operation;
    if (!operation.empty() && operation[0] == "set-name-password" && (operation.size() == 2 || operation.size() == 3)) {
        const auto given = operation.size() == 3 ? std::optional<std::string>(operation[2]) : std::nullopt;
        const auto fresh = secrets.Resolve(given, options.newPasswordFile, "KELVANE_NEW_PASSWORD", std::nullopt, error,
                                           "New password: ", true);
        if (!fresh) return fail(options.newPasswordFile);
        operation.resize(3);
        operation[2] = *fresh;
    }
    return std::nullopt;
}

}  // namespace cli
