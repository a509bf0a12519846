// sicct-terminal-sim: runs the terminals of a scenario file until SIGINT or SIGTERM.
//
//   sicct-terminal-sim --scenario FILE [--bind 127.0.0.1] [--port-file F]
//                      [--discovery-port N] [--no-discovery] [--allow-nonloopback]
//
// Prints "listening on ADDR:PORT" per terminal (in scenario order) and, when the scenario
// asks for it, "discovery on ADDR:PORT". --port-file writes one line per terminal:
// "NAME ADDR PORT PROTOCOL" (written after every terminal is up, so a waiting script can
// poll for the file). Exit codes: 0 after a signal, 1 on bad arguments or scenario, 2 when
// a terminal or the responder cannot start.

#include "DiscoveryResponder.h"
#include "ScenarioFile.h"
#include "TerminalSim.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace
{
volatile std::sig_atomic_t g_bStop = 0;
void OnSignal(int) { g_bStop = 1; }

bool IsLoopback(const std::string& strAddress)
{
    in_addr a{};
    return ::inet_pton(AF_INET, strAddress.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

int Run(int argc, char** argv)
{
    CLI::App app{"SICCT terminal simulator"};
    std::string strScenario, strBind, strPortFile;
    int nDiscoveryPort = -2;
    bool bNoDiscovery = false, bAllowNonLoopback = false;
    app.add_option("--scenario", strScenario, "scenario file (JSON)")->required();
    app.add_option("--bind", strBind, "address for every terminal (overrides the scenario's addresses)");
    app.add_option("--port-file", strPortFile, "write NAME ADDR PORT PROTOCOL per terminal to this file");
    app.add_option("--discovery-port", nDiscoveryPort, "UDP port of the discovery responder (0 = ephemeral)");
    app.add_flag("--no-discovery", bNoDiscovery, "do not answer UDP service discovery");
    app.add_flag("--allow-nonloopback", bAllowNonLoopback,
                 "permit addresses outside 127.0.0.0/8 (only inside a network namespace)");
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        return app.exit(e) == 0 ? 0 : 1;
    }

    sim::Scenario scenario;
    std::string strError;
    if (sim::LoadScenarioFile(strScenario, scenario, strError) != sim::SIM_OK)
    {
        std::cerr << "sicct-terminal-sim: " << strError << "\n";
        return 1;
    }
    if (!strBind.empty())
        for (auto& t : scenario.vecTerminals)
            t.strAddress = strBind;
    for (const auto& t : scenario.vecTerminals)
        if (!bAllowNonLoopback && !IsLoopback(t.strAddress))
        {
            std::cerr << "sicct-terminal-sim: refusing to listen on " << t.strAddress
                      << " (not loopback); give --allow-nonloopback inside a network namespace\n";
            return 1;
        }
    if (nDiscoveryPort != -2)
        scenario.nDiscoveryPort = nDiscoveryPort;
    if (bNoDiscovery)
        scenario.nDiscoveryPort = -1;

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<sim::CTerminalSim>> vecSims;
    sim::CDiscoveryResponder responder;
    responder.AllowNonLoopback(bAllowNonLoopback);
    std::string strPortLines;
    for (const auto& t : scenario.vecTerminals)
    {
        auto pSim = std::make_unique<sim::CTerminalSim>(t);
        pSim->AllowNonLoopback(bAllowNonLoopback);
        if (pSim->Start(&strError) != sim::SIM_OK)
        {
            std::cerr << "sicct-terminal-sim: terminal " << t.strName << ": " << strError << "\n";
            return 2;
        }
        std::cout << "listening on " << pSim->GetAddress() << ":" << pSim->GetPort() << " (" << t.strName
                  << ", protocol 0x" << std::hex << t.nProtocolCode << std::dec << ")" << std::endl;
        strPortLines += t.strName + " " + pSim->GetAddress() + " " + std::to_string(pSim->GetPort()) + " " +
                        std::to_string(t.nProtocolCode) + "\n";
        responder.AddTerminal(t, static_cast<uint16_t>(t.nAnnouncedPort ? t.nAnnouncedPort : pSim->GetPort()));
        vecSims.push_back(std::move(pSim));
    }
    if (scenario.nDiscoveryPort >= 0)
    {
        responder.AddSynthetic(scenario.nSyntheticTerminals);
        const std::string strAddress = strBind.empty() ? scenario.vecTerminals.front().strAddress : strBind;
        if (responder.Start(strAddress, scenario.nDiscoveryPort, &strError) != sim::SIM_OK)
        {
            std::cerr << "sicct-terminal-sim: discovery: " << strError << "\n";
            return 2;
        }
        std::cout << "discovery on " << strAddress << ":" << responder.GetPort() << std::endl;
    }
    if (!strPortFile.empty())
    {
        // written under another name and renamed, so a reader never sees half a file
        const std::string strTmp = strPortFile + ".tmp";
        std::ofstream(strTmp) << strPortLines;
        if (std::rename(strTmp.c_str(), strPortFile.c_str()) != 0)
        {
            std::cerr << "sicct-terminal-sim: cannot write " << strPortFile << "\n";
            return 2;
        }
    }
    while (!g_bStop)
        ::poll(nullptr, 0, 100);
    responder.Stop();
    for (auto& p : vecSims)
        p->Stop();
    std::cout << "stopped" << std::endl;
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        return Run(argc, argv);
    }
    catch (const std::exception& e)
    {
        std::cerr << "sicct-terminal-sim: " << e.what() << "\n";
        return 2;
    }
}
