// Finds and loads the picture decoder module at run time. The program and the converter
// link this; the core does not, and nothing links the module itself: without it the
// program still runs and reads FITS, PIC and BMP files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "process/PictureDecoder.h"

namespace pelorin {

// File name of the decoder module.
inline constexpr const char* kDecoderModuleName = "libnviewlib.so";

// The places tried by LoadPictureDecoder, in order: beside the running executable, the
// installed library folder relative to the executable's folder, the installed library folder
// of the configured prefix, then the bare module name for the system's library search.
std::vector<std::string> DecoderModuleCandidates();

// Loads the decoder module by name at start-up: first beside the running executable, then
// the installed library folder, then the system's library search. Returns null when the
// module or its entry points are missing. whereFound receives the path that was loaded.
// The module stays loaded for the life of the process.
std::unique_ptr<PictureDecoder> LoadPictureDecoder(std::string* whereFound = nullptr);

// A decoder that loads the module (as LoadPictureDecoder) when it first has a picture to
// decode, so that a run that only meets FITS, PIC and BMP files never maps the picture
// library and its dependencies. Without a module, every decode fails.
std::unique_ptr<PictureDecoder> LazyPictureDecoder();

// Loads the module from exactly this file (a path with a '/'), or, for a bare name, through
// the system's library search. Null when it cannot be loaded or lacks an entry point.
std::unique_ptr<PictureDecoder> LoadPictureDecoderFrom(const std::string& modulePath);

// The first of the candidates that loads; whereFound receives it.
std::unique_ptr<PictureDecoder> LoadFirstPictureDecoder(const std::vector<std::string>& candidates,
                                                        std::string* whereFound = nullptr);

}  // namespace pelorin
