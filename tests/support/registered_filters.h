// The test camera and ZarvexDevice registered in the bench's prefix for one test of the whole
// chain (test camera → Zarvex.exe → a client of ZarvexDevice), each registration put back as the
// bench had it afterwards, and the device's own settings at their defaults meanwhile. Both modules
// must sit beside the test executable.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "TestCameraIds.h"
#include "device_test_util.h"
#include "module_library.h"

class CRegisteredFilters {
public:
    // Call from the fixture's SetUp, with COM initialised on the thread.
    testing::AssertionResult Register() {
        if (!m_camera.Loaded())
            return testing::AssertionFailure() << "ZarvexTestCamera.ax must sit beside the test";
        if (!m_device.Loaded())
            return testing::AssertionFailure() << "ZarvexDevice.ax must sit beside the test";
        if (const HRESULT hr = m_camera.RegisterServer(); hr != S_OK)
            return testing::AssertionFailure() << "the test camera's registration: 0x" << std::hex << hr;
        if (const HRESULT hr = m_device.RegisterServer(); hr != S_OK)
            return testing::AssertionFailure() << "ZarvexDevice's registration: 0x" << std::hex << hr;
        m_settings.Clear();
        return testing::AssertionSuccess();
    }
    // Takes the test camera out of the prefix, for a test without any camera.
    HRESULT UnregisterCamera() { return m_camera.UnregisterServer(); }

private:
    CModuleLibrary m_camera{L"ZarvexTestCamera.ax"};
    CRegistrationKeeper m_keepCamera{m_camera, TESTCAM_FRIENDLY_NAME};
    CModuleLibrary m_device{L"ZarvexDevice.ax"};
    CRegistrationKeeper m_keepDevice{m_device, L"ZarvexDevice"};
    CSavedFilterSettings m_settings;
};
