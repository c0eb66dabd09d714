// What lets a host of lower integrity use the channel: the low mandatory label on the section and
// the mutex a channel creates, read back from the objects themselves, and the message filter call
// the dialog makes. Wine keeps and returns object labels but enforces neither labels nor the
// message filter, so what the system does with them is left to Windows.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "ChannelAccess.h"
#include "SharedMem.h"
#include "UniqueAny.h"

namespace {

constexpr char kUnitName[] = "_ZX_UNIT_ACCESS";

// The mandatory label of a kernel object: "<mask> <SID>", "none" without one, or what failed.
std::string LabelOf(HANDLE object) {
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr,
                                        nullptr, nullptr, &sacl, &descriptor);
    const win::UniqueLocalMemory holder(descriptor);
    if (error != ERROR_SUCCESS)
        return "GetSecurityInfo failed with " + std::to_string(error);
    std::string label = "none";
    for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(sacl, i, reinterpret_cast<void**>(&ace)) ||
            ace->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
            continue;
        const auto* mandatory = reinterpret_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
        char* sid = nullptr;
        if (!ConvertSidToStringSidA(const_cast<DWORD*>(&mandatory->SidStart), &sid))
            return "unreadable SID";
        const win::UniqueLocalMemory sidHolder(sid);
        label = std::to_string(mandatory->Mask) + " " + sid;
    }
    return label;
}

} // namespace

// Both objects of a created channel say "no write up" from low integrity (S-1-16-4096); the
// channel still opens and locks as before. An object made without the attributes has no label, so
// the check sees the channel's own doing.
TEST(ChannelAccessTest, TheSectionAndMutexACreatorMakesCarryALowMandatoryLabel) {
    const std::string low = std::to_string(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP) + " S-1-16-4096";
    CSharedMem creator;
    ASSERT_TRUE(creator.Create(kUnitName, kChannelPayloadSize));
    const win::UniqueHandle section(OpenFileMappingA(READ_CONTROL, FALSE, kUnitName + 1));
    const win::UniqueHandle mutex(OpenMutexA(READ_CONTROL, FALSE, kUnitName));
    ASSERT_TRUE(section);
    ASSERT_TRUE(mutex);
    EXPECT_EQ(low, LabelOf(section.get()));
    EXPECT_EQ(low, LabelOf(mutex.get()));

    CSharedMem joiner;
    ASSERT_TRUE(joiner.Open(kUnitName));
    ASSERT_TRUE(joiner.Lock());
    EXPECT_NE(nullptr, joiner.Header());
    EXPECT_TRUE(joiner.Unlock());

    const win::UniqueHandle plain(CreateMutexA(nullptr, FALSE, "_ZX_UNIT_ACCESS_PLAIN"));
    ASSERT_TRUE(plain);
    EXPECT_EQ("none", LabelOf(plain.get()));
}

TEST(ChannelAccessTest, TheLowIntegrityAttributesHoldAValidDescriptor) {
    CLowIntegrityAttributes attributes;
    SECURITY_ATTRIBUTES* sa = attributes.Get();
    ASSERT_NE(nullptr, sa);
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), sa->nLength);
    EXPECT_FALSE(sa->bInheritHandle) << "channel handles are never inherited";
    EXPECT_TRUE(IsValidSecurityDescriptor(sa->lpSecurityDescriptor));
}

// The dialog's call. Wine answers TRUE for any window and filters nothing, so only the call's
// success on a window of this process can be checked here, and that the message still arrives.
TEST(ChannelAccessTest, TheCameraFormatMessageIsAllowedOnAWindowOfThisProcess) {
    const win::UniqueWindow window(CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 8, 8, nullptr,
                                                   nullptr, GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(window) << "needs a display";
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AllowCameraFormatMessage(window.get())) << GetLastError();
    ASSERT_TRUE(PostMessageA(window.get(), WM_CAMERA_FORMAT, kFormatAnnouncedBySetFormat, 0));
    MSG msg = {};
    ASSERT_TRUE(PeekMessageA(&msg, window.get(), WM_CAMERA_FORMAT, WM_CAMERA_FORMAT, PM_REMOVE));
    EXPECT_EQ(kFormatAnnouncedBySetFormat, msg.wParam);
}
