#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "afx_coll.h"

TEST(CPtrArrayTest, GrowsByAnEighthClampedTo4Through1024) {
    CPtrArray array;
    std::vector<int> capacities;
    for (int i = 0; i < 110; ++i) {
        EXPECT_EQ(i, array.Add(reinterpret_cast<void*>(static_cast<INT_PTR>(i + 1))));
        if (capacities.empty() || capacities.back() != array.GetCapacity())
            capacities.push_back(array.GetCapacity());
    }
    // The first block is exactly what was asked for; then + max(4, size / 8) each time.
    const std::vector<int> expected = {1,  5,  9,  13, 17, 21, 25, 29, 33,  37,
                                       41, 46, 51, 57, 64, 72, 81, 91, 102, 114};
    EXPECT_EQ(expected, capacities);
    for (int i = 0; i < 110; ++i)
        ASSERT_EQ(reinterpret_cast<void*>(static_cast<INT_PTR>(i + 1)), array[i]) << "kept across growth";

    CPtrArray big;
    big.SetSize(10000);
    EXPECT_EQ(10000, big.GetCapacity());
    big.Add(nullptr);
    EXPECT_EQ(10000 + 1024, big.GetCapacity()) << "the step stops at 1024";
    big.SetSize(20000);
    EXPECT_EQ(20000, big.GetCapacity()) << "never less than the size needed";
}

TEST(CPtrArrayTest, SetSizeZeroFillsKeepsAStepAndFreesAtZero) {
    CPtrArray array;
    array.SetSize(3, 10);
    EXPECT_EQ(3, array.GetCapacity()) << "a new block is exactly the size";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(nullptr, array[i]);
    array[0] = &array;
    array.Add(&array);
    EXPECT_EQ(13, array.GetCapacity()) << "an explicit step";
    array.SetSize(1);
    array.SetSize(4);
    EXPECT_EQ(nullptr, array[1]) << "elements that come back are zero";
    EXPECT_EQ(static_cast<void*>(&array), array[0]);
    array.RemoveAll();
    EXPECT_EQ(0, array.GetSize());
    EXPECT_EQ(0, array.GetCapacity());
    EXPECT_EQ(nullptr, array.GetData());
    EXPECT_THROW(array.SetSize(-1), CMemoryException);
}

TEST(CByteArrayTest, RemoveAtClosesTheGap) {
    CByteArray bytes;
    for (BYTE b = 0; b < 10; ++b)
        bytes.Add(b);
    bytes.RemoveAt(2, 3);
    const BYTE expected[] = {0, 1, 5, 6, 7, 8, 9};
    ASSERT_EQ(7, bytes.GetSize());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(expected[i], bytes[i]);
    bytes.RemoveAt(5, 100); // only what exists
    EXPECT_EQ(5, bytes.GetSize());
    bytes.RemoveAt(9);
    EXPECT_EQ(5, bytes.GetSize());
}
