/* The picture decoder module: decodes an ordinary picture file (JPEG, GIF, TARGA, PCX, BMP
 * under other names, PNG) into a 24-bit bitmap in memory. The program loads it at run time
 * when it is present; these two entries are all it exports. */
#ifndef PELORIN_NVIEWLIB_H
#define PELORIN_NVIEWLIB_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define NVIEWLIB_EXPORT __attribute__((visibility("default")))
#else
#define NVIEWLIB_EXPORT
#endif

typedef struct NViewPicture {
    int width;
    int height;
    int stride;          /* bytes per row, a multiple of 4 */
    unsigned char* bits; /* rows top first, 3 bytes per pixel: blue, green, red */
} NViewPicture;

/* Decodes the picture at path (an 8-bit, zero-terminated file name). flags is reserved and
 * always 0. Returns NULL when the file cannot be opened or decoded, or when the picture is
 * too large; never raises. The result belongs to the caller, who gives it back to
 * NViewLibFree. */
NVIEWLIB_EXPORT NViewPicture* NViewLibLoad(const char* path, int flags);

/* The width and height that the header of the picture at path announces, read without
 * decoding it: 1 when found (written to *width and *height), 2 when the picture is refused for
 * its size without the size being told, 0 otherwise. Optional: a module without it still
 * decodes. Never raises. */
NVIEWLIB_EXPORT int NViewLibPing(const char* path, int* width, int* height);

/* Releases a picture returned by NViewLibLoad; NULL is allowed. */
NVIEWLIB_EXPORT void NViewLibFree(NViewPicture* picture);

typedef NViewPicture* (*NViewLibLoadFn)(const char* path, int flags);
typedef void (*NViewLibFreeFn)(NViewPicture* picture);
typedef int (*NViewLibPingFn)(const char* path, int* width, int* height);

#ifdef __cplusplus
}
#endif

#endif /* PELORIN_NVIEWLIB_H */
