// Writes BMP files of every depth into a folder, each with a text file listing the colour
// every pixel should show, for bmp_pil_check.py to compare with what PIL reads.
//
// Usage: bmp_pil_writer <folder>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "BmpFiles.h"
#include "base/Errors.h"
#include "process/Bitmap.h"

namespace {

using pelorin::Bitmap;
using pelorin::RgbColour;
using pelorin::test::RandomBitmap;

// "width height depth", then one "red green blue" line per pixel, top row first.
void WriteExpected(const Bitmap& b, const std::string& path) {
    std::ofstream out(path);
    out << b.width() << ' ' << b.height() << ' ' << b.bitsPerPixel() << '\n';
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const RgbColour c = b.pixelColour(x, y);
            out << static_cast<int>(c.red) << ' ' << static_cast<int>(c.green) << ' '
                << static_cast<int>(c.blue) << '\n';
        }
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: bmp_pil_writer <folder>\n";
        return 2;
    }
    const std::string folder = argv[1];
    try {
        std::mt19937 gen(20240);
        for (int depth : {1, 4, 8, 15, 16, 24, 32}) {
            // An odd width, so that every depth has row padding to skip.
            const Bitmap b = RandomBitmap(gen, 13, 7, depth);
            const std::string name = folder + "/depth" + std::to_string(depth);
            b.saveBmpFile(name + ".bmp");
            WriteExpected(b, name + ".txt");
        }
        // A rendered-style 8-bit picture forced to 24 bits, as the batch writes it.
        Bitmap forced = RandomBitmap(gen, 10, 3, 8);
        forced.convertTo24();
        forced.saveBmpFile(folder + "/forced24.bmp");
        WriteExpected(forced, folder + "/forced24.txt");
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
