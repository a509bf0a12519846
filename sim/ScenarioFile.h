#pragma once
// Scenario files of the simulator: JSON describing one or many terminals (see sim/README.md
// for the format). Loading never throws; a broken file gives SIM_ERR_CONFIG and a text that
// names the file, the terminal and the field.

#include "SimTypes.h"

#include <string>
#include <vector>

namespace sim
{
/// A loaded scenario: the terminals and the discovery settings.
struct Scenario
{
    std::vector<TerminalConfig> vecTerminals;
    int nDiscoveryPort = 4742;   // UDP port of the discovery responder; -1 = no responder
    int nSyntheticTerminals = 0; // extra discovery-only answers for load tests
};

/// Loads strPath. Codes: SIM_OK; SIM_ERR_CONFIG with strError ("file: reason").
int LoadScenarioFile(const std::string& strPath, Scenario& scenario, std::string& strError);
/// Parses JSON text (strName is used in error texts). Same codes as LoadScenarioFile.
int ParseScenario(const std::string& strJson, const std::string& strName, Scenario& scenario, std::string& strError);

} // namespace sim
