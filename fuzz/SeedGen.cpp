// Writes the seed corpora that come from the terminal simulator: discovery answers, the
// answers of every status query of every unit, the manufacturer objects, session and
// download answers, all as bodies and as envelopes, for each terminal of a scenario file,
// and the report descriptors of the simulated keyboards.
//   tc_fuzz_seedgen <scenario.json> <corpus dir>
// Run once when the simulator's answers change; the output is kept under fuzz/corpus/.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "ScenarioFile.h"
#include "SimKeyboard.h"
#include "SimWire.h"
#include "SicctWire.h"
#include "TerminalLogic.h"

namespace
{
namespace fs = std::filesystem;

int g_nWritten = 0;

void Write(const fs::path& dir, const std::string& strName, const std::vector<uint8_t>& vecData)
{
    fs::create_directories(dir);
    std::ofstream file(dir / strName, std::ios::binary);
    file.write(reinterpret_cast<const char*>(vecData.data()), static_cast<std::streamsize>(vecData.size()));
    ++g_nWritten;
}

std::vector<uint8_t> Prefixed(uint8_t nSelector, const std::vector<uint8_t>& vecBody)
{
    std::vector<uint8_t> vec(vecBody.size() + 1, nSelector);
    std::copy(vecBody.begin(), vecBody.end(), vec.begin() + 1);
    return vec;
}

std::vector<uint8_t> Answer(sim::CTerminalLogic& logic, sim::ConnectionState& conn, const std::vector<uint8_t>& vecApdu)
{
    sim::wire::Apdu apdu;
    if (!sim::wire::ParseApdu(vecApdu, apdu))
        return {};
    return logic.Handle(apdu, 0, conn);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: %s <scenario.json> <corpus dir>\n", argv[0]);
        return 2;
    }
    sim::Scenario scenario;
    std::string strError;
    if (sim::LoadScenarioFile(argv[1], scenario, strError) != 0)
    {
        std::fprintf(stderr, "%s\n", strError.c_str());
        return 1;
    }
    const fs::path out(argv[2]);
    int nTerminal = 0;
    for (sim::TerminalConfig& terminal : scenario.vecTerminals)
    {
        const std::string strT = "sim" + std::to_string(nTerminal++) + "_";
        Write(out / "fuzz_service_discovery", strT + "answer", sim::CDiscoveryResponder::BuildAnswer(terminal, 4742));

        sim::SimRecording recording;
        sim::CTerminalLogic logic(terminal, recording);
        sim::ConnectionState conn;
        uint16_t nSequence = 1;
        auto keep = [&](const std::string& strName, const std::vector<uint8_t>& vecBody) {
            Write(out / "fuzz_sicct_envelope", strT + strName,
                  sicct::BuildEnvelope(sicct::R_COMMAND, 0, nSequence++, vecBody.data(), vecBody.size()));
            Write(out / "fuzz_sicct_envelope", strT + strName + "_body", vecBody);
        };

        std::vector<uint8_t> vecCmd;
        if (sicct::BuildSessionOpen(terminal.strUser, terminal.strPassword,
                                    sicct::SessionTag(terminal.nSicctVersion >> 8, terminal.nSicctVersion & 0xFF),
                                    vecCmd))
            keep("session_open", Answer(logic, conn, vecCmd));
        if (sicct::BuildTableCommand(sicct::CMD_DOWNLOAD_INIT, "", vecCmd))
            keep("download_init", Answer(logic, conn, vecCmd));

        const std::vector<uint8_t> vecManufacturer = Answer(logic, conn, {0x80, 0x13, 0x00, 0x46, 0x00});
        Write(out / "fuzz_manufacturer", strT + "manufacturer", vecManufacturer);
        Write(out / "fuzz_diag_decoder", strT + "manufacturer", Prefixed(5, vecManufacturer));
        const std::vector<uint8_t> vecUnits = Answer(logic, conn, {0x80, 0x13, 0x00, 0x81, 0x00});
        Write(out / "fuzz_diag_decoder", strT + "unit_list", Prefixed(7, vecUnits));
        keep("unit_list", vecUnits);

        // selector by P2: A1 name, 67 display, 6A keypad, 80 ICC status, 66 ICC interface
        const uint8_t aP2[] = {0xA1, 0x67, 0x6A, 0x80, 0x66};
        for (const sim::UnitConfig& unit : terminal.vecUnits)
        {
            const uint8_t nP1 = static_cast<uint8_t>((unit.nType & 0xF0) | (unit.nNumber & 0x0F));
            for (int nSel = 0; nSel < 5; ++nSel)
            {
                const std::vector<uint8_t> vecAnswer = Answer(logic, conn, {0x80, 0x13, nP1, aP2[nSel], 0x00});
                if (vecAnswer.size() > 2)
                    Write(out / "fuzz_diag_decoder",
                          strT + "unit" + std::to_string(nP1) + "_sel" + std::to_string(nSel),
                          Prefixed(static_cast<uint8_t>(nSel), vecAnswer));
            }
            const std::vector<uint8_t> vecReset = Answer(logic, conn, {0x80, 0x11, nP1, 0x01, 0x00});
            if (vecReset.size() > 2)
                Write(out / "fuzz_diag_decoder", strT + "unit" + std::to_string(nP1) + "_atr", Prefixed(6, vecReset));
        }
    }
    // events the terminals send on their own
    for (const uint8_t nEvent : {sicct::EVENT_KEEPALIVE, sicct::EVENT_SIGN_OFF, sicct::EVENT_CARD_INSERTED,
                                 sicct::EVENT_PROTOCOL_ERROR})
    {
        const std::vector<uint8_t> vecBody{nEvent, 0x11};
        Write(out / "fuzz_sicct_envelope", "event_" + std::to_string(nEvent),
              sicct::BuildEnvelope(sicct::EVENT, 0, 0, vecBody.data(), vecBody.size()));
    }
    for (const bool bNumbered : {false, true})
    {
        SimKeyboardConfig config;
        config.bNumberedReports = bNumbered;
        Write(out / "fuzz_hid_descriptor", bNumbered ? "keyboard_numbered" : "keyboard",
              CSimKeyboard(config).ReportDescriptor());
    }
    std::printf("%d seed files written\n", g_nWritten);
    return 0;
}
