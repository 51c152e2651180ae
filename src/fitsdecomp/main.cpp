// pelorin-fitsdecomp: decompresses one tile-compressed FITS image with cfitsio, in a process
// of its own, so that what cfitsio does with hostile tiles (it has written past its buffers,
// looped and grown without end on such files) stays in here.
//
// Usage (by the image reader only): pelorin-fitsdecomp PARENT HDU INPUT_BYTES IMAGE_BYTES
//   PARENT       process id of the program that started it: the helper ends with it
//   HDU          number of the compressed image's HDU, 1 for the primary
//   INPUT_BYTES  bytes of the FITS file that follow on standard input (whole 2880-byte blocks)
//   IMAGE_BYTES  bytes of the image the compressed header claims, all planes
// Standard input and output are the two ends of the one socket it is given. It replies '1'
// followed by the IMAGE_BYTES stored values (no scaling applied, NaN for undefined reals) in
// FITS byte order, or '0' followed by a message, and exits 0. Anything else is a failure.
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

constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

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

int Reply(const std::string& message) {
    const std::string out = "0" + message;
    return WriteAll(out.data(), out.size()) ? 0 : 1;
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

// Memory and time follow the work: the input, the image and what cfitsio needs beside them
// for a tile (a few copies of one at most), never more than 1 GB; a second of processor time
// per 16 MB, at least two.
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

// Reads the image with cfitsio's image reader: the values as stored (scaling off), undefined
// reals as NaN. Every buffer handed to cfitsio is zeroed first.
std::string Decompress(void* input, std::size_t inputBytes, int hdu, std::uint64_t imageBytes,
                       unsigned char*& pixels) {
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
        if (naxes[i] < 1 || pixelCount > kMaxBytes / static_cast<std::uint64_t>(naxes[i]))
            status = BAD_NAXES;
        else
            pixelCount *= static_cast<std::uint64_t>(naxes[i]);
    }
    const int width = std::abs(bitpix) / 8;
    const int datatype = DataType(bitpix);
    if (status == 0 && (datatype == 0 || naxis < 1 || pixelCount * width != imageBytes))
        status = BAD_BITPIX;
    if (status == 0) {
        pixels = static_cast<unsigned char*>(std::calloc(imageBytes, 1));
        if (!pixels) status = MEMORY_ALLOCATION;
    }
    if (status == 0) fits_set_bscale(f, 1.0, 0.0, &status);
    if (status == 0) {
        long first[999];
        for (int i = 0; i < naxis; ++i)
            first[i] = 1;
        const float nanFloat = std::numeric_limits<float>::quiet_NaN();
        const double nanDouble = std::numeric_limits<double>::quiet_NaN();
        const void* nulval = datatype == TFLOAT    ? static_cast<const void*>(&nanFloat)
                             : datatype == TDOUBLE ? static_cast<const void*>(&nanDouble)
                                                   : nullptr;
        int anyNull = 0;
        fits_read_pix(f, datatype, first, static_cast<LONGLONG>(pixelCount),
                      const_cast<void*>(nulval), pixels, &anyNull, &status);
    }
    std::string message;
    if (status != 0)
        message = CfitsioMessage(status);
    else
        ToBigEndian(pixels, imageBytes, width);
    int ignored = 0;
    if (f) fits_close_file(f, &ignored);
    return message;
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
    if (hdu < 1 || hdu > 1000 || inputBytes > kMaxBytes || imageBytes > kMaxBytes ||
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

    unsigned char* pixels = nullptr;
    const std::string message = Decompress(input, static_cast<std::size_t>(inputBytes),
                                           static_cast<int>(hdu), imageBytes, pixels);
    // Ends without exit handlers: nothing is left to flush, and a leak checker's scan at exit
    // (sanitized builds) needs system calls the helper has given up.
    if (!message.empty()) _exit(Reply(message));
    const char flag = '1';
    _exit(WriteAll(&flag, 1) && WriteAll(reinterpret_cast<const char*>(pixels),
                                         static_cast<std::size_t>(imageBytes))
              ? 0
              : 1);
}
