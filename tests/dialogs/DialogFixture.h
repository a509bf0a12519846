#pragma once
// Shared set-up of the dialog tests: settings in a fresh folder per test, the platform
// services, recorded hooks for the login, message and file dialogs, a terminal simulator on
// loopback, bounded waits and screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClockLinux.h"
#include "DialogServices.h"
#include "LibraryLoaderLinux.h"
#include "LogEdit.h"
#include "RegFileStore.h"
#include "Settings.h"
#include "TerminalSim.h"

/// Saves a picture of the dialog into the build's artifacts folder.
inline void SaveScreenshot(QWidget& dlg, const std::string& strName)
{
    const QString strDir = QStringLiteral(TC_ARTIFACTS_DIR);
    QDir().mkpath(strDir);
    dlg.grab().save(strDir + QLatin1Char('/') + QString::fromStdString(strName) + QStringLiteral(".png"));
}

class DialogFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        static std::atomic<int> s_nCounter{0};
        const char* pszBase = std::getenv("TC_SETTINGS_ROOT");
        ASSERT_NE(pszBase, nullptr);
        m_strBase = pszBase;
        // The store reads the variable when it is made: point it at a folder of this test.
        m_strRoot = m_strBase + "/t" + std::to_string(s_nCounter++);
        QDir().mkpath(QString::fromStdString(m_strRoot));
        ::setenv("TC_SETTINGS_ROOT", m_strRoot.c_str(), 1);
        m_pStore = std::make_unique<os::CRegFileStore>();
        ::setenv("TC_SETTINGS_ROOT", m_strBase.c_str(), 1);
        m_pSettings = std::make_unique<CSettings>(*m_pStore);

        m_services.pStore = m_pStore.get();
        m_services.pLoader = &m_loader;
        m_services.pClock = &m_clock;
        m_services.timing.nCloseDelayMs = 0;
        m_services.timing.nConnectTimeoutMs = 5000;
        m_services.timing.nHandshakeTimeoutMs = 5000;
        m_services.fnLogin = [this](QWidget*, bool bWithUserName, std::string& strUser, std::string& strPassword) {
            m_vecLoginKinds.push_back(bWithUserName);
            if (!m_bLoginOk)
                return false;
            if (bWithUserName)
                strUser = m_strLoginUser;
            else
                strUser = "admin";
            strPassword = m_strLoginPassword;
            return true;
        };
        m_services.fnMessage = [this](QWidget*, QMessageBox::Icon eIcon, const QString& strText) {
            m_vecMessages.push_back(strText.toStdString());
            m_vecMessageIcons.push_back(eIcon);
        };
        m_services.fnOpenFile = [this](QWidget*, const QString&, const QString& strFilters, const QString& strSelected,
                                       const QString&) {
            m_strLastFilters = strFilters.toStdString();
            m_strLastSelectedFilter = strSelected.toStdString();
            return QString::fromStdString(m_strOpenResult);
        };
        m_services.fnSaveFile = [this](QWidget*, const QString&, const QString& strFilters, const QString& strName,
                                       const QString& strSuffix) {
            m_strLastFilters = strFilters.toStdString();
            m_strSaveName = strName.toStdString() + "." + strSuffix.toStdString();
            return QString::fromStdString(m_strSaveResult);
        };
    }

    void StartSim(sim::TerminalConfig config)
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(std::move(config));
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }

    /// Processes events until pred holds, at most nTimeoutMs.
    static bool WaitFor(const std::function<bool()>& pred, int nTimeoutMs = 30000)
    {
        return QTest::qWaitFor(pred, nTimeoutMs);
    }

    template <typename T>
    static T* Control(QWidget& dlg, int nId)
    {
        return dlg.findChild<T*>(QString::number(nId));
    }

    static std::string LogText(CLogEdit* pLog) { return pLog->toPlainText().toStdString(); }

    static void Screenshot(QWidget& dlg, const std::string& strName) { SaveScreenshot(dlg, strName); }

    std::string m_strBase;
    std::string m_strRoot;
    std::unique_ptr<os::CRegFileStore> m_pStore;
    std::unique_ptr<CSettings> m_pSettings;
    os::CLibraryLoaderLinux m_loader;
    os::CClockLinux m_clock;
    SDialogServices m_services;
    std::unique_ptr<sim::CTerminalSim> m_pSim;

    bool m_bLoginOk = true;
    std::string m_strLoginUser = "admin";
    std::string m_strLoginPassword = "12345678";
    std::vector<bool> m_vecLoginKinds;
    std::vector<std::string> m_vecMessages;
    std::vector<QMessageBox::Icon> m_vecMessageIcons;
    std::string m_strOpenResult;
    std::string m_strSaveResult;
    std::string m_strSaveName;
    std::string m_strLastFilters;
    std::string m_strLastSelectedFilter;
};
