// Helpers of the framework tests: the test camera made in-process, and what the DirectShow tests
// share (tests/support).
#pragma once

#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "BaseObject.h"
#include "ComScope.h"
#include "TestCamera.h"
#include "TestCameraStream.h"
#include "inproc_filter.h"
#include "media_types.h"

// A new in-process test camera, held by its IBaseFilter.
inline ComPtr<IBaseFilter> CreateTestCamera(CTestCamera** ppCamera = nullptr) {
    return CreateInProcessFilter<CTestCamera>(ppCamera);
}

// The camera's capture pin.
inline CTestCameraStream* CameraStream(CTestCamera* pCamera) {
    return pCamera->Stream();
}
