// The process harness of the tests is the one our tools use as well (tools/proc/ChildProcess.h);
// the tests know it by its old name in their own namespace.
#pragma once

#include "ChildProcess.h"

namespace testing_support {
using proc::ChildProcess;
} // namespace testing_support
