// CClientGraph: a GrabberGraph whose every step must succeed in the test that builds it, and whose
// platform objects must each go with their last reference.
#pragma once

#include <gtest/gtest.h>

#include "grabber_graph.h"

class CClientGraph : public testing_support::GrabberGraph {
public:
    ~CClientGraph() { Release(); }

    // Builds the graph around pDevice and connects it along path; every step must succeed. The
    // grabber takes RGB24 video; with a full type it takes only that.
    void Build(IBaseFilter* pDevice, ISampleGrabberCB* pCallback, const AM_MEDIA_TYPE* pGrabberType = nullptr,
               testing_support::GraphPath path = testing_support::GraphPath::Direct) {
        ASSERT_EQ(S_OK, Create(pDevice, pCallback, pGrabberType));
        ASSERT_EQ(S_OK, Connect(path)) << testing_support::GraphPathName(path);
    }
    // Stops in the capture program's order; each step must succeed.
    void Stop() {
        if (Control()) {
            EXPECT_EQ(S_OK, GrabberGraph::Stop());
        }
    }
    // Lets go of everything; each platform object must go with its last reference.
    void Release() {
        const Leftovers left = GrabberGraph::Release();
        EXPECT_EQ(0u, left.graph) << "filter graph";
        EXPECT_EQ(0u, left.grabber) << "sample grabber";
        EXPECT_EQ(0u, left.renderer) << "null renderer";
        EXPECT_EQ(0u, left.builder) << "capture graph builder";
    }
};
