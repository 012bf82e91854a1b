// kelvane-cli's parameter tasks: set-name-password, set-network and set-register.
// Their arguments are checked completely before anything is built or sent; the block
// is then built from a copy of the working param.jdp by the same code the wizard's
// pages use, so the tool downloads exactly what the wizard would.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fdp/param/ParamTasks.h"

namespace cli {

struct ParamTaskRequest {
    enum class Task { NamePassword, Network, Register } task = Task::NamePassword;
    std::string name;
    std::string password;
    param::NetworkSettings network;
    std::array<std::string, 5> registerTexts;
};

bool IsParamTask(const std::string& operation);

// The request of `set-name-password NAME PASSWORD`, `set-network hub|auto|
// IP/MASK,GATEWAY,DNS` (MASK dotted or a prefix length) or `set-register ACCESS DEREG
// ADDR RINGLET PSTN` (operation[0] is the task's name). Nothing, with the reason in
// error, for a wrong count of arguments, a text longer than its parameter or an address
// that is not four fields of 0-255.
std::optional<ParamTaskRequest> ParseParamTask(const std::vector<std::string>& operation, std::string& error);

// Loads the parameter file (a copy of param.jdp, see CParamDraft), writes the
// request's values and masks as the wizard's page does and saves the file. False with
// the reason in error.
bool BuildParamFile(const ParamTaskRequest& request, const std::filesystem::path& file, std::string& error);

// The fields a parameter file marks as changed (its masks, parameters 12 and 58), by
// name as the update history gives them; empty when the file cannot be read.
std::string ChangedFieldsOf(const std::filesystem::path& file);

}  // namespace cli
