// pelorin-fitsdecomp: decompresses one tile-compressed FITS image with cfitsio, in a process
// of its own, so that what cfitsio does with hostile tiles (it has written past its buffers,
// looped and grown without end on such files) stays in here.
//
// Usage (by the image reader only): pelorin-fitsdecomp PARENT HDU INPUT_BYTES IMAGE_BYTES
//   PARENT       process id of the program that started it: the helper ends with it
//   HDU          number of the compressed image's HDU, 1 for the primary
//   INPUT_BYTES  bytes of the FITS file that follow on standard input (whole 2880-byte blocks)
//   IMAGE_BYTES  bytes of the image the compressed header claims, all planes
// Standard input and output are the two ends of the one socket it is given. It replies in
// frames, each a kind byte, a length (4 bytes, most significant first) and that many bytes:
// 'D' frames carry the IMAGE_BYTES stored values in order (no scaling applied, NaN for
// undefined reals, FITS byte order); an 'E' frame carries a message and ends the reply, which
// may come after some 'D' frames. It exits 0; anything else is a failure.
//
// It allows itself no more than the work needs: memory and processor time bounded by the
// image and the input, no file it could write, no new process, and (where the filter is
// known) no system call beyond memory, reading, writing and exiting.
#include <fitsio.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace {

// The most input it takes, and the largest image: the image is sent as it is decompressed,
// never held whole.
constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 31;

bool WriteAll(const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(1, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool ParseNumber(const char* text, std::uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
    value = v;
    return true;
}

bool Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit r{soft, hard};
    return setrlimit(resource, &r) == 0;
}

// Memory and time follow the work: the input, and what cfitsio needs beside it for a tile
// (a few copies of one at most, counted as a few copies of the image: a tile may be the
// whole image), never more than 1 GB; a second of processor time per 16 MB, at least two.
bool SetLimits(std::uint64_t inputBytes, std::uint64_t imageBytes) {
    const std::uint64_t work = inputBytes + 3 * imageBytes;
    const rlim_t cpu = static_cast<rlim_t>(2 + work / (std::uint64_t{16} << 20));
    bool ok = Limit(RLIMIT_CPU, cpu, cpu + 1) && Limit(RLIMIT_FSIZE, 0, 0) &&
              Limit(RLIMIT_CORE, 0, 0) && Limit(RLIMIT_NPROC, 0, 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(PELORIN_SANITIZED)
    // The sanitizers reserve terabytes of address space for their shadow memory.
    constexpr std::uint64_t kMaxAddressSpace = std::uint64_t{1} << 30;
    const std::uint64_t space = std::min(kMaxAddressSpace, (std::uint64_t{96} << 20) + work);
    ok = ok && Limit(RLIMIT_AS, static_cast<rlim_t>(space), static_cast<rlim_t>(space));
#endif
    return ok;
}

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#endif

// After the input is read: system calls for memory, the socket and the end only. Any other
// call fails with EPERM rather than killing the helper, so that a library that tries one
// (a locale file, a clock) goes on without it.
void RestrictSystemCalls() {
#if defined(__x86_64__) || defined(__aarch64__)
    static const int allowed[] = {
        SYS_read,       SYS_write,        SYS_close,          SYS_brk,      SYS_mmap,
        SYS_munmap,     SYS_mremap,       SYS_madvise,        SYS_mprotect, SYS_exit,
        SYS_exit_group, SYS_rt_sigreturn, SYS_rt_sigprocmask, SYS_futex,    SYS_getpid,
        SYS_gettid,     SYS_sigaltstack,  SYS_clock_gettime,  SYS_lseek,    SYS_fstat,
        SYS_newfstatat,
    };
    constexpr std::size_t n = sizeof allowed / sizeof allowed[0];
    sock_filter filter[4 + 2 * n + 2];
    std::size_t k = 0;
    filter[k++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    filter[k++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    filter[k++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    filter[k++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    for (int nr : allowed) {
        filter[k++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 1);
        filter[k++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    }
    filter[k++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA));
    sock_fprog program{static_cast<unsigned short>(k), filter};
    // Without the filter the other limits still hold: not worth failing the image for.
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
#endif
}

int DataType(int bitpix) {
    switch (bitpix) {
        case BYTE_IMG:
            return TBYTE;
        case SHORT_IMG:
            return TSHORT;
        case LONG_IMG:
            return TINT;
        case LONGLONG_IMG:
            return TLONGLONG;
        case FLOAT_IMG:
            return TFLOAT;
        case DOUBLE_IMG:
            return TDOUBLE;
        default:
            return 0;
    }
}

std::string CfitsioMessage(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return "Image compressée illisible (" + std::to_string(status) + " " + text + ")";
}

// Native values to FITS (big-endian) order, in place.
void ToBigEndian(unsigned char* p, std::uint64_t bytes, int width) {
    if (width == 1) return;
    const std::uint32_t probe = 1;
    if (*reinterpret_cast<const unsigned char*>(&probe) == 0) return;  // already big-endian
    for (std::uint64_t i = 0; i + static_cast<std::uint64_t>(width) <= bytes; i += width)
        for (int a = 0, b = width - 1; a < b; ++a, --b)
            std::swap(p[i + a], p[i + b]);
}

// One frame of the reply: its kind, its length (four bytes, most significant first), its bytes.
bool WriteFrame(char kind, const char* p, std::size_t n) {
    const char head[5] = {kind, static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                          static_cast<char>(n >> 8), static_cast<char>(n)};
    return WriteAll(head, sizeof head) && WriteAll(p, n);
}

int Reply(const std::string& message) {
    return WriteFrame('E', message.data(), message.size()) ? 0 : 1;
}

// Reads the image with cfitsio's image reader, a band of whole rows at a time, and sends each
// band as it comes: the values as stored (scaling off), undefined reals as NaN. Neither end
// then holds the image twice; cfitsio keeps no more than the tiles a band crosses. Every
// buffer handed to cfitsio is zeroed first.
int Decompress(void* input, std::size_t inputBytes, int hdu, std::uint64_t imageBytes) {
    int status = 0;
    fitsfile* f = nullptr;
    void* memory = input;
    std::size_t size = inputBytes;
    fits_open_memfile(&f, "tiles", READONLY, &memory, &size, 0, nullptr, &status);
    int type = 0;
    fits_movabs_hdu(f, hdu, &type, &status);
    if (status == 0 && !fits_is_compressed_image(f, &status) && status == 0) status = NOT_IMAGE;
    int bitpix = 0, naxis = 0;
    long naxes[999] = {};
    fits_get_img_param(f, 999, &bitpix, &naxis, naxes, &status);
    std::uint64_t pixelCount = 1;
    for (int i = 0; status == 0 && i < naxis; ++i) {
        if (naxes[i] < 1 || pixelCount > kMaxImageBytes / static_cast<std::uint64_t>(naxes[i]))
            status = BAD_NAXES;
        else
            pixelCount *= static_cast<std::uint64_t>(naxes[i]);
    }
    const int width = std::abs(bitpix) / 8;
    const int datatype = DataType(bitpix);
    if (status == 0 && (datatype == 0 || naxis < 1 || pixelCount * width != imageBytes))
        status = BAD_BITPIX;
    // Bands of about 4 MB of whole rows, each plane on its own, cut between rows of tiles so
    // that no tile is decompressed twice: a band is at least one tile high. A tile that
    // spans planes makes the whole image one band.
    const std::uint64_t row = naxis > 0 ? static_cast<std::uint64_t>(naxes[0]) : 1;
    const std::uint64_t rows = naxis > 1 ? static_cast<std::uint64_t>(naxes[1]) : 1;
    std::uint64_t tileRows = 1;
    for (int i = 2; i <= naxis && status == 0; ++i) {
        long tile = 1;  // as when ZTILEn is missing
        const std::string key = "ZTILE" + std::to_string(i);
        if (fits_read_key(f, TLONG, key.c_str(), &tile, nullptr, &status) == KEY_NO_EXIST)
            status = 0;
        if (i == 2) tileRows = static_cast<std::uint64_t>(std::max(tile, 1L));
        if (i > 2 && tile > 1) tileRows = rows;
    }
    const std::uint64_t wanted = std::max<std::uint64_t>(
        1, (std::uint64_t{4} << 20) / std::max<std::uint64_t>(1, row * width));
    const std::uint64_t bandRows =
        tileRows >= rows ? rows : std::min(rows, (wanted + tileRows - 1) / tileRows * tileRows);
    unsigned char* band = nullptr;
    if (status == 0) {
        band = static_cast<unsigned char*>(std::calloc(bandRows * row * width, 1));
        if (!band) status = MEMORY_ALLOCATION;
    }
    if (status == 0) fits_set_bscale(f, 1.0, 0.0, &status);
    const float nanFloat = std::numeric_limits<float>::quiet_NaN();
    const double nanDouble = std::numeric_limits<double>::quiet_NaN();
    const void* nulval = datatype == TFLOAT    ? static_cast<const void*>(&nanFloat)
                         : datatype == TDOUBLE ? static_cast<const void*>(&nanDouble)
                                               : nullptr;
    bool sent = true;
    const std::uint64_t planes = status == 0 ? pixelCount / (row * rows) : 0;
    for (std::uint64_t plane = 0; plane < planes && status == 0 && sent; ++plane) {
        for (std::uint64_t y = 0; y < rows && status == 0 && sent; y += bandRows) {
            const std::uint64_t count = std::min(bandRows, rows - y) * row;
            // The band's first pixel as coordinates, 1-based, first axis fastest.
            long first[999];
            first[0] = 1;
            if (naxis > 1) first[1] = static_cast<long>(y) + 1;
            std::uint64_t rest = plane;
            for (int i = 2; i < naxis; ++i) {
                first[i] = static_cast<long>(rest % static_cast<std::uint64_t>(naxes[i])) + 1;
                rest /= static_cast<std::uint64_t>(naxes[i]);
            }
            int anyNull = 0;
            fits_read_pix(f, datatype, first, static_cast<LONGLONG>(count),
                          const_cast<void*>(nulval), band, &anyNull, &status);
            if (status != 0) break;
            ToBigEndian(band, count * width, width);
            sent = WriteFrame('D', reinterpret_cast<const char*>(band), count * width);
        }
    }
    std::free(band);
    int ignored = 0;
    if (f) fits_close_file(f, &ignored);
    if (status != 0) return Reply(CfitsioMessage(status));
    return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Ends with the program that started it, even when that one is killed; checked again
    // after, as the parent may have gone before the request was made.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::uint64_t parent = 0, hdu = 0, inputBytes = 0, imageBytes = 0;
    if (argc != 5 || !ParseNumber(argv[1], parent) || !ParseNumber(argv[2], hdu) ||
        !ParseNumber(argv[3], inputBytes) || !ParseNumber(argv[4], imageBytes))
        return 2;
    if (static_cast<std::uint64_t>(getppid()) != parent) return 3;
    if (hdu < 1 || hdu > 1000 || inputBytes > kMaxBytes || imageBytes > kMaxImageBytes ||
        inputBytes % 2880 != 0)
        return 2;
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (!SetLimits(inputBytes, imageBytes)) return 4;

    void* input = std::calloc(static_cast<std::size_t>(inputBytes) + 1, 1);
    if (!input) return Reply("Image compressée illisible (mémoire)");
    auto* at = static_cast<char*>(input);
    for (std::uint64_t got = 0; got < inputBytes;) {
        const ssize_t n = read(0, at + got, static_cast<std::size_t>(inputBytes - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 5;
        got += static_cast<std::uint64_t>(n);
    }
    RestrictSystemCalls();

    // Ends without exit handlers: nothing is left to flush, and a leak checker's scan at exit
    // (sanitized builds) needs system calls the helper has given up.
    _exit(
        Decompress(input, static_cast<std::size_t>(inputBytes), static_cast<int>(hdu), imageBytes));
}
