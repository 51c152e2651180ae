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

    // Puts an image of the given kind on display as a load would leave it, with every pixel
    // from `value(row, col)`, statistics computed, thresholds and window set.
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
        auto fill = [&](auto& arr) {
            arr.resize(rows, cols);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < cols; ++c) {
                    arr[r][c] =
                        static_cast<std::remove_reference_t<decltype(arr[0][0])>>(value(r, c));
                    stats.add(
                        static_cast<double>(bscale * static_cast<long double>(arr[r][c]) + bzero));
                }
        };
        switch (bitpix) {
            case 8:
                fill(im.pixels8);
                break;
            case 16:
                fill(im.pixels16);
                break;
            case 32:
                fill(im.pixels32);
                break;
            case 64:
                fill(im.pixels64);
                break;
            case -32:
                fill(im.pixelsR32);
                break;
            default:
                fill(im.pixelsR64);
                break;
        }
        im.dataMin = stats.dataMin;
        im.dataMax = stats.dataMax;
        stats.finish(im.mean, im.sigma);
        SaveSourcePixels(im);
        viewer->computeThresholds();
        SaveSourceStatistics(im);
        ZoomWindow& z = viewer->zoom;
        z.colStart = z.rowStart = 0;
        z.colEnd = z.cols = cols;
        z.rowEnd = z.rows = rows;
        z.prevColStart = z.prevRowStart = 0;
        z.prevColEnd = cols;
        z.prevRowEnd = rows;
        viewer->renderDisplay();
        im.loaded = true;
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
