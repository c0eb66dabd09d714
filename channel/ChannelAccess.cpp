#include "ChannelAccess.h"

#include <sddl.h>

#include "Log.h"
#include "SharedFrameHeader.h"

CLowIntegrityAttributes::CLowIntegrityAttributes() {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    // A failure leaves the objects with their default label: the channel still works between
    // processes of one level, so it is logged rather than stopping the create.
    if (!LOG_IF_WIN32_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kLowIntegrityLabel, SDDL_REVISION_1, &pDescriptor, nullptr)))
        return;
    m_pDescriptor.reset(pDescriptor);
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = pDescriptor;
    m_attributes.bInheritHandle = FALSE;
}

BOOL AllowCameraFormatMessage(HWND hwnd) {
    return ChangeWindowMessageFilterEx(hwnd, WM_CAMERA_FORMAT, MSGFLT_ALLOW, nullptr);
}
