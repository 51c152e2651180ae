#include "viewer/MainWindowModel.h"

#include <algorithm>
#include <filesystem>

namespace pelorin {

void ScrollBarModel::setPosition(int p) {
    p = std::clamp(p, min_, std::max(min_, max_));
    if (p == position_) return;
    position_ = p;
    if (onChange) onChange();
}

void ScrollBarModel::setMin(int m) {
    min_ = m;
    if (position_ < min_) setPosition(min_);
}

void ScrollBarModel::setMax(int m) {
    max_ = m;
    if (position_ > max_) setPosition(max_);
}

std::string FileListModel::pathOf(int i) const {
    if (i < 0 || i >= count()) return {};
    std::string path = folder;
    const char sep = kPathSeparator;
    if (path.empty() || path.back() != sep) path.push_back(sep);
    return path + entries[static_cast<std::size_t>(i)].name;
}

std::string FileListModel::selectedFocusedPath() const {
    if (focused < 0 || focused >= count() || !entries[static_cast<std::size_t>(focused)].selected)
        return {};
    return pathOf(focused);
}

void FileListModel::selectAll() {
    for (auto& e : entries)
        e.selected = true;
}

void FileListModel::selectNone() {
    for (auto& e : entries)
        e.selected = false;
}

}  // namespace pelorin
