#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ClipThumbnails.h"
#include "FrameDc.h"
#include "TestFrames.h"

namespace {

// A real top-level window holding an icon-view list control, as the main dialog's list 1000. One
// window serves every test: without a window manager, Wine waits two seconds for each visible
// window it destroys.
class ClipListWindow : public testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        frame_ = CreateWindowExW(0, L"STATIC", L"clip list test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                 500, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        frameError_ = GetLastError();
        if (frame_)
            list_ = CreateWindowExW(0, WC_LISTVIEWW, L"List1",
                                    WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0,
                                    0, 200, 400, frame_, reinterpret_cast<HMENU>(1000),
                                    GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        if (frame_)
            DestroyWindow(frame_);
        frame_ = list_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(nullptr, frame_) << "no display: the thumbnail tests need a real window (error "
                                   << frameError_ << ")";
        ASSERT_NE(nullptr, list_) << "no list view control";
        SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
    }
    void TearDown() override {
        // The image lists die with each test; the control must not keep a handle to them.
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
    }

    int ItemCount() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
    std::string ItemText(int i) const {
        char text[32] = "junk";
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list_, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    int ItemImage(int i) const {
        LVITEMA item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        item.iImage = -12345;
        EXPECT_TRUE(SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        return item.iImage;
    }
    HIMAGELIST AttachedList() const {
        return reinterpret_cast<HIMAGELIST>(SendMessageW(list_, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
    }
    void InsertJunkItem() {
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char*>("junk");
        SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        ASSERT_EQ(1, ItemCount());
    }

    static HWND frame_;
    static HWND list_;
    static DWORD frameError_;
};

HWND ClipListWindow::frame_ = nullptr;
HWND ClipListWindow::list_ = nullptr;
DWORD ClipListWindow::frameError_ = 0;

// A clip of two frames: the first shows `top` above and `bottom` below, the second is white, so
// a thumbnail of the wrong frame or upside down is told apart.
std::unique_ptr<CFrameArray> MakeClip(int width, int height, BYTE top, BYTE bottom) {
    auto clip = std::make_unique<CFrameArray>();
    GrabbedFrame first(width, height);
    first.FillRect(0, 0, width, height / 2, top, top, top);
    first.FillRect(0, height / 2, width, height, bottom, 0, 0);
    auto image = std::make_unique<CFrameImage>(width, height, 24);
    std::copy(first.bits.begin(), first.bits.end(), image->GetBits());
    clip->Add(image.release());
    auto second = std::make_unique<CFrameImage>(width, height, 24);
    second->Fill(0xFF);
    clip->Add(second.release());
    return clip;
}

} // namespace

TEST_F(ClipListWindow, NoClipsLeaveTheListEmpty) {
    InsertJunkItem();
    CImageList thumbs;
    CClipArray clips;
    RefillClipThumbnails(list_, thumbs, clips);
    EXPECT_EQ(0, ItemCount());
    EXPECT_EQ(nullptr, thumbs.m_hImageList);
    EXPECT_EQ(nullptr, AttachedList());
}

TEST_F(ClipListWindow, ThreeClipsGiveNumberedThumbnailsOfTheirFirstFrames) {
    InsertJunkItem();
    CImageList thumbs;
    CClipArray clips;
    const BYTE tops[3] = {0x30, 0x80, 0xD0};
    for (BYTE top : tops)
        clips.Add(MakeClip(512, 384, top, static_cast<BYTE>(top / 2)).release());
    ASSERT_TRUE(clips.GetAt(1)->KeepPixelsOnly()); // what the clip maker calls changes nothing
    RefillClipThumbnails(list_, thumbs, clips);
    // The list holds its images; the clips and the scratch picture hold nothing afterwards.
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());

    ASSERT_NE(nullptr, thumbs.m_hImageList);
    EXPECT_EQ(thumbs.m_hImageList, AttachedList());
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(thumbs.m_hImageList, &cx, &cy));
    EXPECT_EQ(96, cx);
    EXPECT_EQ(72, cy);
    IMAGEINFO info = {};
    ASSERT_TRUE(ImageList_GetImageInfo(thumbs.m_hImageList, 0, &info));
    BITMAP bm = {};
    ASSERT_TRUE(GetObjectW(info.hbmImage, sizeof bm, &bm));
    EXPECT_EQ(24, bm.bmBitsPixel) << "ILC_COLOR24";
    ASSERT_EQ(3, ImageList_GetImageCount(thumbs.m_hImageList));

    ASSERT_EQ(3, ItemCount());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "item " << i);
        EXPECT_EQ(std::to_string(i + 1), ItemText(i));
        EXPECT_EQ(i, ItemImage(i));
        // The thumbnail, drawn out of the list, shows the clip's first frame the right way up.
        CFrameImage shown(96, 72, 24);
        {
            CFrameDc dc(shown);
            ASSERT_TRUE(ImageList_Draw(thumbs.m_hImageList, i, dc.get(), 0, 0, ILD_NORMAL));
        }
        for (int y : {0, 20, 33}) {
            for (int x : {0, 50, 95})
                ASSERT_EQ(RGB(tops[i], tops[i], tops[i]), PixelOf(shown, x, y)) << x << "," << y;
        }
        for (int y : {38, 50, 71}) {
            for (int x : {0, 50, 95})
                ASSERT_EQ(RGB(0, 0, tops[i] / 2), PixelOf(shown, x, y)) << x << "," << y;
        }
    }

    // Rebuilding after the first clip went renumbers the rest and makes the image list anew.
    clips.RemoveAt(0);
    RefillClipThumbnails(list_, thumbs, clips);
    ASSERT_EQ(2, ItemCount());
    EXPECT_EQ("1", ItemText(0));
    EXPECT_EQ("2", ItemText(1));
    EXPECT_EQ(2, ImageList_GetImageCount(thumbs.m_hImageList));
    EXPECT_EQ(thumbs.m_hImageList, AttachedList());

    // With no clips left the items go, and the list keeps the image list it had.
    HIMAGELIST last = thumbs.m_hImageList;
    clips.DeleteAll();
    RefillClipThumbnails(list_, thumbs, clips);
    EXPECT_EQ(0, ItemCount());
    EXPECT_EQ(last, AttachedList());
}

TEST_F(ClipListWindow, ThumbnailHeightFollowsTheFirstClipsFrames) {
    struct Case {
        int width, height, thumbHeight;
    } cases[] = {{512, 384, 72}, {640, 480, 72}, {640, 360, 54}, {500, 300, 57}, {160, 120, 72}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        CImageList thumbs;
        CClipArray clips;
        clips.Add(MakeClip(c.width, c.height, 0x40, 0x20).release());
        clips.Add(MakeClip(320, 240, 0x40, 0x20).release()); // later clips are stretched to fit
        RefillClipThumbnails(list_, thumbs, clips);
        int cx = 0, cy = 0;
        ASSERT_TRUE(ImageList_GetIconSize(thumbs.m_hImageList, &cx, &cy));
        EXPECT_EQ(96, cx);
        EXPECT_EQ(c.thumbHeight, cy);
        EXPECT_EQ(2, ItemCount());
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0); // the control outlives this image list
    }
}
