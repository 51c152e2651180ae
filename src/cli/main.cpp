// pelorin-convert: the BMP batch of the viewer without a window. The files named on the
// command line are treated as the selected entries of the file list, in the order given,
// with the window's controls set from the options, and "Sauvegarde BMP" pressed.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "nviewlib/DecoderLoader.h"
#include "process/AtomicFile.h"
#include "process/Png.h"
#include "viewer/BatchOutputs.h"
#include "viewer/RenderFile.h"
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
    "  --mode MODE         threshold mode: en-tête, data, 1sig, 2sig, 70, fixe or zscale\n"
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
    "  --levels            print each file's name and the low and high thresholds it was\n"
    "                      rendered with, as the Min: and Max: fields show them, separated\n"
    "                      by tabs (files without thresholds print no line)\n"
    "  --header            print each file's header listing instead of converting\n"
    "  --quiet             no progress line and no summary\n"
    "  --keep-going        when an error ends a file, report it as not converted and go on\n"
    "                      with the next file (default: the error ends the batch)\n"
    "  --jobs N            convert N files at a time (default: the number of cores); the\n"
    "                      output, the files written and where an error stops the batch\n"
    "                      are the same as with --jobs 1\n"
    "  --memory MB         memory the files being loaded may take together (default: half\n"
    "                      the machine's memory); a file larger than that is loaded alone\n"
    "  --help              this text\n"
    "  --version           the version of the program\n"
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
    bool levels = false;
    bool keepGoing = false;
    int jobs = 0;                         // 0: one per core
    std::optional<std::uint64_t> memory;  // bytes; none: half the machine's memory
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
    if (t == "zscale") return kModeZscale;
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
        } else if (a == "--version") {
            std::cout << "pelorin-convert " PELORIN_VERSION "\n";
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
        } else if (a == "--levels") {
            o.levels = true;
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
        } else if (a == "--memory") {
            std::int32_t n = 0;
            if (!TryParseInteger(value(), n) || n < 1) UsageError("--memory takes a number of MB");
            o.memory = static_cast<std::uint64_t>(n) << 20;
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

// What the budget and the queue below share: their lock, the signal of a change, and the
// end of the batch, which lets every waiting worker go.
class BatchGate {
  public:
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

  protected:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

// The memory the files being loaded, and their renderings waiting to be written, may take
// together. Files get their share in the order of the command line: a file waits until the
// earlier ones have theirs, and until the files in memory leave room for what its header
// claims; a file larger than the whole budget is loaded alone. Shares are given back as the
// writer is done with each file, in that same order, so the first file waiting always gets
// its share in the end.
class MemoryBudget : public BatchGate {
  public:
    explicit MemoryBudget(std::uint64_t bytes) : budget_(bytes) {}
    // False when the batch has ended meanwhile.
    bool acquire(std::size_t file, std::uint64_t bytes) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return stopped_ || (next_ == file && (inUse_ == 0 || inUse_ + bytes <= budget_));
        });
        if (stopped_) return false;
        inUse_ += bytes;
        ++next_;
        changed_.notify_all();
        return true;
    }
    void release(std::uint64_t bytes) {
        {
            std::lock_guard lock(mutex_);
            inUse_ -= bytes;
        }
        changed_.notify_all();
    }

  private:
    const std::uint64_t budget_;
    std::uint64_t inUse_ = 0;
    std::size_t next_ = 0;
};

// Half of the machine's memory.
std::uint64_t DefaultMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0) return std::uint64_t{4} << 30;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) / 2;
}

// The renderings of a batch, file by file in the order of the command line: workers render
// files ahead, each on its own, and the writer takes them in order.
class RenderQueue : public BatchGate {
  public:
    RenderQueue(std::size_t total, std::size_t ahead) : slots_(total), ahead_(ahead) {}
    // The next file to render, or none when the batch has ended or every file is taken.
    // Waits while the renderings not yet written are `ahead` files ahead of the writer.
    std::optional<std::size_t> take() {
        std::unique_lock lock(mutex_);
        changed_.wait(
            lock, [&] { return stopped_ || next_ >= slots_.size() || next_ < written_ + ahead_; });
        if (stopped_ || next_ >= slots_.size()) return std::nullopt;
        return next_++;
    }
    void put(std::size_t i, RenderedFile r) {
        {
            std::lock_guard lock(mutex_);
            slots_[i] = std::move(r);
        }
        changed_.notify_all();
    }
    // The rendering of file i, once it is there.
    RenderedFile get(std::size_t i) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slots_[i].has_value(); });
        RenderedFile r = std::move(*slots_[i]);
        slots_[i].reset();
        written_ = i + 1;
        changed_.notify_all();
        return r;
    }
    // Files before `first` are rendered by the caller itself.
    void skipTo(std::size_t first) {
        std::lock_guard lock(mutex_);
        next_ = first;
    }

  private:
    std::vector<std::optional<RenderedFile>> slots_;
    const std::size_t ahead_;
    std::size_t next_ = 0, written_ = 0;
};

}  // namespace

// SIGINT, SIGTERM or SIGHUP: the file being written goes with its temporary name, then the
// signal ends the process as it would have.
extern "C" void EndOnSignal(int signalNumber) {
    RemoveOwnTemporaryFilesForSignal();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

int main(int argc, char** argv) {
    const std::time_t started = std::time(nullptr);
    // A batch loads one image after another, mostly of the same size: keep the freed buffers
    // of a file (a PNG's rows and bytes, a compressed file read whole) in the heap for the
    // next one instead of handing them back and faulting fresh pages in again. Pixel arrays
    // and bitmaps are mapped on their own and go back at once (base/LargeBlock).
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    // Each heap keeps the blocks freed in it: a heap per worker would keep a file's worth of
    // memory for each of many jobs, past the memory budget.
    mallopt(M_ARENA_MAX, static_cast<int>(std::max(2u, std::thread::hardware_concurrency())));
    const Options o = Parse(argc, argv);
    const std::size_t total = o.files.size();
    const std::size_t jobs =
        std::min(o.jobs > 0 ? static_cast<std::size_t>(o.jobs)
                            : std::max(1u, std::thread::hardware_concurrency()),
                 total);
    RenderSettings settings;
    std::vector<std::string> destinations;
    try {
        const std::unique_ptr<Viewer> v = MakeViewer(o);
        v->startUp();
        if (o.header) return ListHeaders(*v, o);
        Configure(*v, o);
        settings = v->renderSettings();
        // Every output name is known before anything is written.
        for (const std::string& file : o.files) {
            v->controls.fileList = ListOf(file);
            destinations.push_back(v->destinationPath(v->controls.fileList.entries[0].name));
        }
    } catch (const std::exception& e) {
        std::cerr << "pelorin-convert: " << Visible(e.what()) << "\n";
        return 1;
    }

    const bool progress = !o.quiet && isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    std::vector<BatchEntryReport> rejected;
    std::vector<BatchEntryReport> failed;  // ended by an error (--keep-going)
    auto fileStart = [&](std::size_t done, const std::string& name) {
        if (!progress) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double remaining =
            done > 0 ? elapsed / static_cast<double>(done) * static_cast<double>(total - done) : 0;
        std::cerr << "\r\033[K"
                  << "[" << done + 1 << "/" << total << "] " << Visible(name) << "  "
                  << Clock(elapsed) << " elapsed, " << (done > 0 ? Clock(remaining) : "?")
                  << " remaining" << std::flush;
    };
    std::atomic<bool> damaged{false};
    auto fileDone = [&](const BatchEntryReport& r) {
        if (o.caption) std::cout << Visible(r.caption) << "\n" << std::flush;
        if (o.levels && !r.lowText.empty())
            std::cout << Visible(r.name) << "\t" << r.lowText << "\t" << r.highText << "\n"
                      << std::flush;
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
    BatchOutputs outputs(o.files, std::move(destinations));
    outputs.removeStaleTemporaryFiles(started);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = EndOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
    MemoryBudget budget(o.memory ? *o.memory : DefaultMemoryBudget());
    // A file's rendering, and its PNG encoded on the worker's own thread.
    // A file's claim is held from its load until the writer is done with it, its bitmap
    // waiting in the queue included.
    std::vector<std::uint64_t> claims(total, 0);
    auto render = [&](std::size_t i, PictureDecoder* decoder) {
        const std::uint64_t claim = RenderMemoryClaim(o.files[i], settings);
        if (!budget.acquire(i, claim)) return RenderedFile();  // never written
        claims[i] = claim;
        RenderedFile r = RenderFile(o.files[i], settings, decoder);
        if (settings.format == OutputFormat::Png && r.status != RenderStatus::Failed) {
            try {
                r.fileBytes = ToPngBytes(r.bitmap, outputs.destination(i), r.trueColour);
                r.bitmap = Bitmap();
            } catch (const std::exception& e) {
                r.status = RenderStatus::Failed;
                r.messages = {e.what()};
            }
        }
        return r;
    };

    RenderQueue queue(total, 2 * jobs);
    // In mode "fixe" every image keeps the thresholds of the first one that has some: the
    // files up to it are rendered first, one after the other.
    if (settings.mode == kModeFixed && !settings.fixed) {
        const auto decoder = LazyPictureDecoder();
        std::size_t first = 0;
        while (first < total && !settings.fixed) {
            RenderedFile r = render(first, decoder.get());
            // Nothing is written before the workers start: a share kept here could wait for
            // the writer for ever.
            budget.release(std::exchange(claims[first], 0));
            const bool ends = r.status == RenderStatus::Failed && !o.keepGoing;
            settings.fixed = r.thresholds;
            queue.put(first++, std::move(r));
            if (ends) first = total;
        }
        queue.skipTo(first);
    }
    std::vector<std::thread> workers;
    for (std::size_t w = 0; w < jobs; ++w)
        workers.emplace_back([&] {
            const auto decoder = LazyPictureDecoder();
            while (const auto i = queue.take())
                queue.put(*i, render(*i, decoder.get()));
        });

    // The one writer: files in the order of the command line.
    int status = 0;
    std::size_t handled = 0;
    for (std::size_t i = 0; i < total; ++i) {
        fileStart(i, fs::path(o.files[i]).filename().string());
        RenderedFile r = queue.get(i);
        std::string what;
        if (r.status == RenderStatus::Failed) {
            what = r.messages.front();
        } else {
            try {
                fileDone(outputs.write(i, r, settings.format));
                ++handled;
            } catch (const std::exception& e) {
                what = e.what();
            }
        }
        r = RenderedFile();
        budget.release(claims[i]);
        if (!what.empty()) {
            error(o.files[i], what);
            status = 1;
            if (!o.keepGoing) break;
        }
    }
    queue.stop();
    budget.stop();
    for (auto& t : workers)
        t.join();

    if (progress) std::cerr << "\r\033[K";
    if (!o.quiet) {
        std::cerr << handled << " of " << total << " files handled";
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
