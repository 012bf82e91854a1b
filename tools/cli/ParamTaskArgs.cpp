#include "tools/cli/ParamTaskArgs.h"

#include "fdp/WholeNumber.h"
#include "fdp/param/ParamStore.h"

namespace cli {

namespace {

bool TextFits(const std::string& text, std::size_t limit, const char* what, std::string& error) {
    if (text.size() <= limit) return true;
    error = std::string(what) + " has " + std::to_string(text.size()) + " bytes; the target takes at most " +
            std::to_string(limit);
    return false;
}

std::optional<param::Ipv4> Address(const std::string& text, const char* what, std::string& error) {
    auto address = param::ParseIpv4(text);
    if (!address) error = std::string(what) + " \"" + text + "\" is no IPv4 address (four fields of 0-255)";
    return address;
}

// "255.255.255.0" or a prefix length "24".
std::optional<param::Ipv4> SubnetMask(const std::string& text, std::string& error) {
    if (text.find('.') != std::string::npos) return Address(text, "the subnet mask", error);
    const fdp::WholeNumber prefix = fdp::ReadWholeNumber(text, 0, 32);
    if (!prefix) {
        error = "the subnet mask \"" + text + "\" is neither an address nor a prefix length of 0-32";
        return std::nullopt;
    }
    const auto bits = static_cast<unsigned>(prefix.value);
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return param::Ipv4{static_cast<std::uint8_t>(mask >> 24), static_cast<std::uint8_t>(mask >> 16),
                       static_cast<std::uint8_t>(mask >> 8), static_cast<std::uint8_t>(mask)};
}

std::optional<param::NetworkSettings> Network(const std::string& text, std::string& error) {
    param::NetworkSettings settings;
    if (text == "hub") {
        settings.mode = param::NetworkMode::Hub;
        return settings;
    }
    if (text == "auto") {
        settings.mode = param::NetworkMode::RouterAutomatic;
        return settings;
    }
    settings.mode = param::NetworkMode::RouterManual;
    const auto comma1 = text.find(',');
    const auto comma2 = comma1 == std::string::npos ? comma1 : text.find(',', comma1 + 1);
    const auto slash = text.find('/');
    if (comma2 == std::string::npos || text.find(',', comma2 + 1) != std::string::npos || slash == std::string::npos ||
        slash > comma1) {
        error = "the network is hub, auto or IP/MASK,GATEWAY,DNS, not \"" + text + "\"";
        return std::nullopt;
    }
    const auto address = Address(text.substr(0, slash), "the IP address", error);
    if (!address) return std::nullopt;
    const auto mask = SubnetMask(text.substr(slash + 1, comma1 - slash - 1), error);
    if (!mask) return std::nullopt;
    const auto gateway = Address(text.substr(comma1 + 1, comma2 - comma1 - 1), "the gateway", error);
    if (!gateway) return std::nullopt;
    const auto dns = Address(text.substr(comma2 + 1), "the DNS server", error);
    if (!dns) return std::nullopt;
    settings.address = *address;
    settings.subnetMask = *mask;
    settings.gateway = *gateway;
    settings.dns = *dns;
    return settings;
}

}  // namespace

bool IsParamTask(const std::string& operation) {
    return operation == "set-name-password" || operation == "set-network" || operation == "set-register";
}

std::optional<ParamTaskRequest> ParseParamTask(const std::vector<std::string>& operation, std::string& error) {
    const std::string& task = operation.at(0);
    const std::size_t arguments = operation.size() - 1;
    ParamTaskRequest request;
    if (task == "set-name-password") {
        if (arguments != 2) {
            error = "set-name-password takes NAME and PASSWORD";
            return std::nullopt;
        }
        request.task = ParamTaskRequest::Task::NamePassword;
        request.name = operation[1];
        request.password = operation[2];
        if (!TextFits(request.name, param::kNameLen, "the name", error) ||
            !TextFits(request.password, param::kPasswordLen, "the password", error))
            return std::nullopt;
        return request;
    }
    if (task == "set-network") {
        if (arguments != 1) {
            error = "set-network takes hub, auto or IP/MASK,GATEWAY,DNS";
            return std::nullopt;
        }
        request.task = ParamTaskRequest::Task::Network;
        const auto network = Network(operation[1], error);
        if (!network) return std::nullopt;
        request.network = *network;
        return request;
    }
    if (task == "set-register") {
        if (arguments != 5) {
            error = "set-register takes ACCESS DEREG ADDR RINGLET PSTN";
            return std::nullopt;
        }
        request.task = ParamTaskRequest::Task::Register;
        static const char* const kWhat[] = {"the register access code", "the deregister access code",
                                            "the register address", "the Ringlet number", "the PSTN number"};
        for (std::size_t i = 0; i < request.registerTexts.size(); ++i) {
            request.registerTexts[i] = operation[i + 1];
            if (!TextFits(request.registerTexts[i], param::kRegisterLens[i], kWhat[i], error)) return std::nullopt;
        }
        return request;
    }
    error = "unknown parameter task " + task;
    return std::nullopt;
}

bool BuildParamFile(const ParamTaskRequest& request, const std::filesystem::path& file, std::string& error) {
    param::CParamStore store;
    store.Init(file, file.parent_path() / "default.jdp");
    if (!store.LoadParam()) {
        error = "Cannot read " + file.string();
        return false;
    }
    std::uint32_t modifiedMask = 0, registerMask = 0;
    const param::ParamMasks masks{modifiedMask, registerMask};
    bool built = false;
    switch (request.task) {
    case ParamTaskRequest::Task::NamePassword:
        built = param::ApplyNamePassword(store, request.name, request.password, masks);
        break;
    case ParamTaskRequest::Task::Network: built = param::ApplyNetwork(store, request.network, masks); break;
    case ParamTaskRequest::Task::Register: built = param::ApplyRegister(store, request.registerTexts, masks); break;
    }
    if (!built) error = "Cannot write the parameters into " + file.string();
    return built;
}

std::string ChangedFieldsOf(const std::filesystem::path& file) {
    param::CParamStore store;
    store.Init(file, {});
    if (!store.LoadParam()) return {};
    return param::ChangedFieldNames(store.GetDword(param::kParamModifiedMask), store.GetDword(param::kParamRegisterMask));
}

}  // namespace cli
