// A viewer on a fresh temporary folder, and ways to put a synthetic image on display.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "TestUtil.h"
#include "viewer/Viewer.h"

namespace pelorin::test {

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        viewer = std::make_unique<Viewer>(dir.path().string());
        viewer->paletteFallbacks.clear();
        viewer->startUp();
        viewer->onBusy = [this](bool on) {
            if (on) ++busyCount;
        };
    }

    // Puts an image of the given kind on display as a load leaves it: every pixel from
    // `value(row, col)` and its statistics, as a reader gives them, then the viewer's own
    // steps after a read.
    template <typename F>
    void ShowImage(int bitpix, int rows, int cols, F value, long double bscale = 1,
                   long double bzero = 0) {
        ImageState& im = viewer->image;
        ResetImageArrays(im);
        im.bitpix = bitpix;
        im.bscale = bscale;
        im.bzero = bzero;
        im.width = cols;
        im.height = rows;
        im.fileName = dir.file("synthetic.fit");
        StatsAccumulator stats;
        VisitPixels(im, [&](auto& pixels, auto&) {
            using T = typename std::decay_t<decltype(pixels)>::value_type;
            pixels.resize(rows, cols);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c) {
                    pixels[r][c] = static_cast<T>(value(r, c));
                    stats.add(static_cast<double>(bscale * static_cast<long double>(pixels[r][c]) +
                                                  bzero));
                }
        });
        im.dataMin = stats.dataMin;
        im.dataMax = stats.dataMax;
        stats.finish(im.mean, im.sigma);
        viewer->showLoadedImage();
    }

    // Identity intensity table: display level n drawn with palette index n.
    void IdentityItt() {
        for (int i = 0; i < 256; ++i)
            viewer->itt[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }

    // Points the list at the test folder and focuses and selects `name`, as a click would.
    void Focus(const std::string& name) {
        viewer->setFolder(dir.path().string(), "*.*");
        auto& list = viewer->controls.fileList;
        for (int i = 0; i < list.count(); ++i)
            if (list.entries[static_cast<std::size_t>(i)].name == name) {
                list.focused = i;
                list.entries[static_cast<std::size_t>(i)].selected = true;
                return;
            }
        FAIL() << name << " not listed";
    }
    void Click(const std::string& name) {
        Focus(name);
        viewer->openFocusedFile();
    }

    std::uint8_t Pixel(int x, int y) const { return viewer->displayBitmap.row(y)[x]; }

    TempDir dir;
    std::unique_ptr<Viewer> viewer;
    int busyCount = 0;
};

}  // namespace pelorin::test
