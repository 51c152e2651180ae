// pelorin-convert: the BMP batch of the viewer without a window. The files named on the
// command line are treated as the selected entries of the file list, in the order given,
// with the window's controls set from the options, and "Sauvegarde BMP" pressed.
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "nviewlib/DecoderLoader.h"
#include "viewer/Viewer.h"

namespace fs = std::filesystem;
using namespace pelorin;

namespace {

constexpr const char* kUsage =
    "Usage: pelorin-convert [options] FILE...\n"
    "Writes the rendering of each FITS, PIC or picture FILE as a BMP file, exactly as the\n"
    "viewer's \"Sauvegarde BMP\" does for the selected files of its list.\n"
    "\n"
    "Options:\n"
    "  --dest DIR          destination folder (default: each file's own folder)\n"
    "  --mode MODE         threshold mode: en-tête, data, 1sig, 2sig, 70 or fixe\n"
    "                      (default en-tête)\n"
    "  --lut NAME          colour palette of the palettes folder (default ramp)\n"
    "  --itt NAME          intensity table of the palettes folder (default 4_ramp)\n"
    "  --palettes DIR      folder of the .lut and .itt files (default: ./palettes, then the\n"
    "                      installed palettes)\n"
    "  --plane N           plane (layer) to read, as the \"Couche\" field (default 0)\n"
    "  --filter NAME|INDEX filter applied to every image: None, \"LowPass 1\".. \"LowPass 5\",\n"
    "                      Gauss, \"Focus 1\"..\"Focus 3\", Edge, \"Gradient 1\"..\"Gradient 4\",\n"
    "                      or its index 0..14 (default None)\n"
    "  --threshold TEXT    filter threshold: only pixels below it are filtered (default 9E99)\n"
    "  --bmp24             write 24-bit BMP files (\"Force le format BMP 24 bits\")\n"
    "  --format bmp|png    file format written (default bmp); a PNG holds the BMP's pixels\n"
    "  --own-colours       show pictures in their own colours (\"Palette du bitmap\");\n"
    "                      default: turn them into grey levels (\"Palette modifiable\")\n"
    "  --caption           print each file's status caption on standard output\n"
    "  --header            print each file's header listing instead of converting\n"
    "  --quiet             no progress line and no summary\n"
    "  --keep-going        when an error ends a file, report it as not converted and go on\n"
    "                      with the next file (default: the error ends the batch)\n"
    "  --jobs N            convert N files at a time (default: the number of cores); the\n"
    "                      output, the files written and where an error stops the batch\n"
    "                      are the same as with --jobs 1\n"
    "  --help              this text\n"
    "\n"
    "Exit status: 0 when every file was handled, 1 when an error ended the batch (files\n"
    "already written are kept) or, with --keep-going, ended any file, 2 on bad usage,\n"
    "3 when every file was handled but some were damaged (cut short: converted as far as\n"
    "they go, the missing part as zeros, and named on standard error).\n"
    "Control characters of names, captions and headers are printed as escapes (\\n, \\x1b).\n";

// Every file handled, but at least one was cut short.
constexpr int kExitDamaged = 3;

struct Options {
    std::optional<std::string> dest;
    int mode = kModeHeader;
    std::optional<std::string> lut, itt, palettes, plane, filter, threshold;
    OutputFormat format = OutputFormat::Bmp;
    bool bmp24 = false, ownColours = false, caption = false, header = false, quiet = false;
    bool keepGoing = false;
    int jobs = 0;  // 0: one per core
    std::vector<std::string> files;
};

// Text for the terminal: control characters (C0, DEL and C1) become visible escapes, so
// that a file name or header cannot move the cursor, clear the screen or hide its own end.
// Everything else, UTF-8 included, passes unchanged.
std::string Visible(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (c >= 0x20 && c != 0x7F && !c1) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char buf[8];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c1) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(text[++i]));
            out += buf;
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

[[noreturn]] void UsageError(const std::string& message) {
    std::cerr << "pelorin-convert: " << Visible(message) << "\n\n" << kUsage;
    std::exit(2);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int ParseMode(const std::string& text) {
    const std::string t = Lower(text);
    if (t == "en-tête" || t == "en-tete" || t == "header") return kModeHeader;
    if (t == "data") return kModeData;
    if (t == "1sig" || t == "1 sig.") return kModeOneSigma;
    if (t == "2sig" || t == "2 sig.") return kModeTwoSigma;
    if (t == "70" || t == "70%") return kMode70;
    if (t == "fixe") return kModeFixed;
    UsageError("unknown mode '" + text + "'");
}

Options Parse(int argc, char** argv) {
    Options o;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) UsageError(a + " needs a value");
            return argv[++i];
        };
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.files.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (a == "--dest") {
            o.dest = value();
        } else if (a == "--mode") {
            o.mode = ParseMode(value());
        } else if (a == "--lut") {
            o.lut = value();
        } else if (a == "--itt") {
            o.itt = value();
        } else if (a == "--palettes") {
            o.palettes = value();
        } else if (a == "--plane") {
            o.plane = value();
        } else if (a == "--filter") {
            o.filter = value();
        } else if (a == "--threshold") {
            o.threshold = value();
        } else if (a == "--format") {
            const std::string f = value();
            if (f != "bmp" && f != "png") UsageError("unknown format '" + f + "'");
            o.format = f == "png" ? OutputFormat::Png : OutputFormat::Bmp;
        } else if (a == "--bmp24") {
            o.bmp24 = true;
        } else if (a == "--own-colours" || a == "--own-colors") {
            o.ownColours = true;
        } else if (a == "--caption") {
            o.caption = true;
        } else if (a == "--header") {
            o.header = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--keep-going") {
            o.keepGoing = true;
        } else if (a == "--jobs" || a == "-j") {
            std::int32_t n = 0;
            if (!TryParseInteger(value(), n) || n < 1 || n > 256)
                UsageError("--jobs takes 1 to 256");
            o.jobs = n;
        } else {
            UsageError("unknown option " + a);
        }
    }
    if (o.files.empty()) UsageError("no file given");
    long double threshold = 0;
    if (o.threshold && !TryParseReal(*o.threshold, threshold))
        UsageError("--threshold takes a number, not '" + *o.threshold + "'");
    return o;
}

int IndexOf(const std::vector<std::string>& items, const std::string& name) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (Lower(items[i]) == Lower(name)) return static_cast<int>(i);
    return -1;
}

void Configure(Viewer& v, const Options& o) {
    if (o.lut) {
        const int i = IndexOf(v.controls.lutList.items, *o.lut);
        if (i < 0) UsageError("no palette '" + *o.lut + "' in " + v.paletteFolder());
        v.selectLut(i);
    }
    if (o.itt) {
        const int i = IndexOf(v.controls.ittList.items, *o.itt);
        if (i < 0) UsageError("no intensity table '" + *o.itt + "' in " + v.paletteFolder());
        v.selectItt(i);
    }
    v.setThresholdMode(o.mode);
    if (o.plane) {
        std::int32_t n = 0;
        if (!TryParseInteger(*o.plane, n) || n < 0 || n > 99) UsageError("--plane takes 0 to 99");
        v.controls.planeText = std::to_string(n);
    }
    if (o.filter) {
        std::int32_t n = -1;
        int index = TryParseInteger(*o.filter, n) ? n : IndexOf(FilterNames(), *o.filter);
        if (index < 0 || index >= static_cast<int>(FilterNames().size()))
            UsageError("unknown filter '" + *o.filter + "'");
        v.controls.filterList.select(index);
    }
    if (o.threshold) v.controls.filterThresholdText = *o.threshold;
    v.controls.force24Bit = o.bmp24;
    v.controls.outputFormat = o.format;
    v.controls.pictureColours = o.ownColours ? PictureColours::Own : PictureColours::Adjustable;
    if (o.dest) {
        // Relative to the shell's folder, not to each file's.
        std::error_code ec;
        fs::path d = fs::absolute(*o.dest, ec);
        v.controls.destination = (ec ? fs::path(*o.dest) : d).string();
    }
}

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

int ListHeaders(Viewer& v, const Options& o) {
    for (const std::string& file : o.files) {
        v.image.errorText.clear();
        if (!v.listHeader(file)) {
            const std::string& why = v.image.errorText;
            std::cerr << Visible(file) << ": "
                      << Visible(why.empty() ? "not a FITS or PIC file" : why) << "\n";
            return 1;
        }
        if (o.files.size() > 1) std::cout << "==> " << Visible(file) << " <==\n";
        for (const std::string& line : v.headerText)
            std::cout << Visible(Windows1252ToUtf8(line)) << "\n";
    }
    return 0;
}

// The report of a file that an error ended, for the summary of a --keep-going run.
BatchEntryReport NotConverted(const fs::path& file, const std::string& error) {
    BatchEntryReport r;
    r.name = file.filename().string();
    r.reason = error;
    return r;
}

// The file list of the converter as the viewer's list: one selected entry in a list pointed
// at the file's folder, so that the default destination ".\\" writes beside it.
FileListModel ListOf(const std::string& file) {
    const fs::path p(file);
    FileListModel list;
    list.folder = p.has_parent_path() ? p.parent_path().string() : std::string(".");
    list.entries.push_back({p.filename().string(), true});
    return list;
}

// A viewer set up from the options, as the window would be after its start-up.
std::unique_ptr<Viewer> MakeViewer(const Options& o) {
    std::error_code ec;
    auto v = std::make_unique<Viewer>(fs::current_path(ec).string(), LazyPictureDecoder());
    if (o.palettes) v->paletteOverride = *o.palettes;
    return v;
}

// What one load leaves to the next in a batch: the plane edit (the plane actually read goes
// back into it) and, in mode "fixe", the thresholds that the next image keeps.
struct Carried {
    std::string planeText;
    std::uint64_t low = 0, high = 0, sourceMin = 0, sourceMax = 0;  // bit patterns

    static Carried Of(const Viewer& v, bool fixed) {
        Carried c;
        c.planeText = v.controls.planeText;
        if (fixed) {
            c.low = std::bit_cast<std::uint64_t>(v.levels.low);
            c.high = std::bit_cast<std::uint64_t>(v.levels.high);
            c.sourceMin = std::bit_cast<std::uint64_t>(v.image.sourceDataMin);
            c.sourceMax = std::bit_cast<std::uint64_t>(v.image.sourceDataMax);
        }
        return c;
    }
    void into(Viewer& v, bool fixed) const {
        v.controls.planeText = planeText;
        if (fixed) {
            v.levels.low = std::bit_cast<double>(low);
            v.levels.high = std::bit_cast<double>(high);
            v.image.sourceDataMin = std::bit_cast<double>(sourceMin);
            v.image.sourceDataMax = std::bit_cast<double>(sourceMax);
        }
    }
    bool operator==(const Carried&) const = default;
};

// Gives the files their turn, in the order of the command line, to print and to write, and
// hands on what each load leaves to the next.
class Turns {
  public:
    explicit Turns(Carried start) : carried_(std::move(start)) {}
    // Waits until file i has its turn; false when an earlier file has ended the batch.
    bool wait(std::size_t i) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return next_ == i || stopped_; });
        return !stopped_;
    }
    // Ends the turn of the current file; `stop` ends the batch with it.
    void pass(bool stop, Carried left = {}) {
        {
            std::lock_guard lock(mutex_);
            stopped_ = stopped_ || stop;
            if (!stop) carried_ = std::move(left);
            ++next_;
        }
        changed_.notify_all();
    }
    bool stopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }
    // What the last file done left to the next one.
    Carried carried() {
        std::lock_guard lock(mutex_);
        return carried_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    bool stopped_ = false;
    Carried carried_;
};

// Raised inside a worker's batch when an earlier file has ended the batch: its file is
// dropped before anything of it is written.
struct Dropped {};
// Raised when a file was loaded from another state than the one its predecessor left: it is
// loaded again, in its turn, before anything of it is written.
struct Stale {};

// Converts the files on `viewers.size()` workers, each with its own viewer. A worker loads
// and renders its file at once, from the state the latest finished file left, then waits for
// the file's turn before it writes or reports anything; a file whose predecessor left another
// state is loaded again then. So the output, the files written and the file where an error
// stops the batch are those of the sequential loop. Returns the exit status; `handled`
// counts the files done.
int ConvertInParallel(const Options& o, std::vector<std::unique_ptr<Viewer>>& viewers,
                      const BatchObserver& report, const std::vector<FileIdentity>& sources,
                      const std::function<void(const std::string&, const std::string&)>& error,
                      std::size_t& handled) {
    const std::size_t total = o.files.size();
    const bool fixed = viewers.front()->levels.mode == kModeFixed;
    Turns turns(Carried::Of(*viewers.front(), fixed));
    std::atomic<std::size_t> nextFile{0};
    std::atomic<std::size_t> done{0};
    std::atomic<int> status{0};
    auto work = [&](Viewer& v) {
        for (;;) {
            const std::size_t i = nextFile++;
            if (i >= total || turns.stopped()) return;
            const std::string& file = o.files[i];
            const Carried guess = turns.carried();
            bool ownsTurn = false;
            auto takeTurn = [&](const std::string& name) {
                if (!turns.wait(i)) return false;
                ownsTurn = true;
                if (report.onFileStart)
                    report.onFileStart(static_cast<int>(i), static_cast<int>(total), name);
                return true;
            };
            BatchObserver observer;
            observer.onFileDone = report.onFileDone;
            observer.beforeSave = [&](const BatchEntryReport& r) {
                if (!takeTurn(r.name)) throw Dropped{};
                if (!(turns.carried() == guess)) throw Stale{};
            };
            // An error in the file's turn: reported, then either the batch ends there or, with
            // --keep-going, the next file goes on from the state this one left. True to go on.
            auto fail = [&](const std::string& what) {
                error(file, what);
                status = 1;
                if (!o.keepGoing) {
                    turns.pass(true);
                    return false;
                }
                turns.pass(false, Carried::Of(v, fixed));
                return true;
            };
            auto convert = [&](const Carried& from) {
                from.into(v, fixed);
                v.controls.fileList = ListOf(file);
                v.saveSelectedAsBmp(&observer, sources);
            };
            bool again = false;
            try {
                convert(guess);
            } catch (const Dropped&) {
                return;
            } catch (const Stale&) {
                again = true;
            } catch (const std::exception& e) {
                if (!ownsTurn && !takeTurn(fs::path(file).filename().string())) return;
                if (!(turns.carried() == guess)) {
                    again = true;
                } else {
                    if (fail(e.what())) continue;
                    return;
                }
            }
            if (again) {
                observer.beforeSave = nullptr;
                try {
                    convert(turns.carried());
                } catch (const std::exception& e) {
                    if (fail(e.what())) continue;
                    return;
                }
            }
            ++done;
            turns.pass(false, Carried::Of(v, fixed));
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t w = 1; w < viewers.size(); ++w)
        workers.emplace_back(work, std::ref(*viewers[w]));
    work(*viewers[0]);
    for (auto& t : workers)
        t.join();
    handled = done;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A batch loads one image after another, mostly of the same size: keep freed image
    // blocks in the heap for the next load instead of handing them back to the system and
    // faulting fresh pages in again for every file.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    const Options o = Parse(argc, argv);
    std::size_t jobs = o.jobs > 0 ? static_cast<std::size_t>(o.jobs)
                                  : std::max(1u, std::thread::hardware_concurrency());
    jobs = o.header ? 1 : std::min(jobs, o.files.size());
    std::vector<std::unique_ptr<Viewer>> viewers;
    try {
        for (std::size_t w = 0; w < jobs; ++w) {
            viewers.push_back(MakeViewer(o));
            viewers.back()->startUp();
            if (o.header) return ListHeaders(*viewers.back(), o);
            Configure(*viewers.back(), o);
        }
    } catch (const std::exception& e) {
        std::cerr << "pelorin-convert: " << Visible(e.what()) << "\n";
        return 1;
    }
    Viewer& v = *viewers.front();

    const bool progress = !o.quiet && isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    std::vector<BatchEntryReport> rejected;
    std::vector<BatchEntryReport> failed;  // ended by an error (--keep-going)
    BatchObserver observer;
    observer.onFileStart = [&](int done, int total, const std::string& name) {
        if (!progress) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double remaining = done > 0 ? elapsed / done * (total - done) : 0;
        std::cerr << "\r\033[K"
                  << "[" << done + 1 << "/" << total << "] " << Visible(name) << "  "
                  << Clock(elapsed) << " elapsed, " << (done > 0 ? Clock(remaining) : "?")
                  << " remaining" << std::flush;
    };
    std::atomic<bool> damaged{false};
    observer.onFileDone = [&](const BatchEntryReport& r) {
        if (o.caption) std::cout << Visible(r.caption) << "\n" << std::flush;
        // A file cut short is converted as far as it goes, and said to be damaged.
        if (!r.damage.empty()) {
            damaged = true;
            if (progress) std::cerr << "\r\033[K";
            std::cerr << Visible(r.name) << ": " << Visible(r.damage) << "\n";
        }
        if (r.rejected || r.skipped) rejected.push_back(r);
        if (r.skipped && !o.quiet) {
            if (progress) std::cerr << "\r\033[K";
            std::cerr << Visible(r.name) << ": " << Visible(r.reason) << "\n";
        }
    };
    // An error that ended a file; with --keep-going the file is listed as not converted.
    auto error = [&](const std::string& file, const std::string& what) {
        if (progress) std::cerr << "\r\033[K";
        std::cerr << "pelorin-convert: " << Visible(file) << ": " << Visible(what) << "\n";
        if (o.keepGoing) failed.push_back(NotConverted(file, what));
    };

    // Every file of the command line is a source of this one batch: no output replaces one.
    const std::vector<FileIdentity> sources = IdentitiesOf(o.files);
    int status = 0;
    std::size_t handled = 0;
    if (jobs > 1) {
        status = ConvertInParallel(o, viewers, observer, sources, error, handled);
    } else {
        for (const std::string& file : o.files) {
            v.controls.fileList = ListOf(file);
            try {
                v.saveSelectedAsBmp(&observer, sources);
                ++handled;
            } catch (const std::exception& e) {
                error(file, e.what());
                status = 1;
                if (!o.keepGoing) break;
            }
        }
    }
    if (progress) std::cerr << "\r\033[K";
    if (!o.quiet) {
        std::cerr << handled << " of " << o.files.size() << " files handled";
        if (!rejected.empty() || !failed.empty())
            std::cerr << ", " << rejected.size() + failed.size() << " not converted";
        std::cerr << ".\n";
        for (const auto* list : {&rejected, &failed})
            for (const auto& r : *list)
                std::cerr << "  " << Visible(r.name) << ": " << Visible(r.reason) << "\n";
    }
    // Every file is written and closed: the images need not be freed one page at a time
    // on the way out.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status == 0 && damaged ? kExitDamaged : status);
}
