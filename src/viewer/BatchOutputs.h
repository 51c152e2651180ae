// The files a batch writes: where each rendering goes, and what must not be written over.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/FileChecks.h"
#include "viewer/RenderFile.h"
#include "viewer/Viewer.h"

namespace pelorin {

class BatchOutputs {
  public:
    // sources: every file the batch reads; destinations: the path each one's output goes to,
    // known before anything is written.
    BatchOutputs(std::vector<std::string> sources, std::vector<std::string> destinations);

    // Removes the temporary files that interrupted runs left in the destination folders,
    // those older than `started`, the start of this run.
    void removeStaleTemporaryFiles(std::time_t started) const;

    std::size_t size() const { return sources_.size(); }
    const std::string& source(std::size_t i) const { return sources_[i]; }
    const std::string& destination(std::size_t i) const { return destinations_[i]; }

    // Writes the rendering of source i (its encoded bytes when it has them, its bitmap in
    // `format` otherwise), or reports why it is kept off the disk. Raises OperationError when
    // the write fails, and when the destination is one this batch has already written for
    // another source: the earlier output is kept and this one is not converted.
    BatchEntryReport write(std::size_t i, const RenderedFile& rendered, OutputFormat format);

  private:
    std::vector<std::string> sources_;
    std::vector<std::string> destinations_;
    std::vector<FileIdentity> sourceIds_;
    // What this batch has written: by path, and by file identity for another path to it.
    std::map<std::string, std::size_t> writtenPaths_;
    std::map<FileIdentity, std::size_t> writtenIds_;
};

}  // namespace pelorin
