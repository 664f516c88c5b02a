#include "os/SourceFolderScan.h"
#include "os/windows/FolderTree.h"
#include "os/windows/WindowsFileSystem.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"

#include <algorithm>

namespace quendle {
namespace {

// The final path of what `path` names, links followed, in the plain form ("C:\..." or
// "\\server\share\...") that the other path functions take; empty when it cannot be opened.
std::string resolved(const std::string& path) {
    HANDLE h = ::CreateFileW(hostpath::nativePath(path).c_str(), 0, hostpath::ShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    std::wstring final = foldertree::pathOfHandle(h);
    ::CloseHandle(h);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
        final = L"\\" + final.substr(7);
    else if (final.rfind(L"\\\\?\\", 0) == 0)
        final = final.substr(4);
    return hostpath::narrow(final);
}

bool isInside(const std::string& path, const std::string& root) {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
        return s;
    };
    const std::string p = lower(path), r = lower(root);
    return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 &&
                      (r.back() == '\\' || p[r.size()] == '\\'));
}

struct Entry {
    std::string name;
    DWORD attributes;
};

std::vector<Entry> sortedEntries(const std::string& folder) {
    std::vector<Entry> entries;
    if (!foldertree::forEachEntry(hostpath::nativePath(folder), [&](const WIN32_FIND_DATAW& found) {
            entries.push_back({hostpath::narrow(found.cFileName), found.dwFileAttributes});
        }))
        SystemError::last().raise();
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

} // namespace

SourceFolderScan::SourceFolderScan(const std::string& folder) {
    root_ = resolved(folder);
    if (root_.empty())
        SystemError::last().raise();
    DWORD attributes = ::GetFileAttributesW(hostpath::nativePath(root_).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        SystemError::last().raise();
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw WindowsException(win32::Directory);
    std::vector<std::string> components;
    std::vector<std::string> visiting{root_};
    visit(root_, components, visiting);
}

void SourceFolderScan::visit(const std::string& folder, std::vector<std::string>& components,
                             std::vector<std::string>& visiting) {
    for (const Entry& entry : sortedEntries(folder)) {
        const std::string path = folder + "\\" + entry.name;
        std::string target = path;
        DWORD attributes = entry.attributes;
        // Symbolic links and junctions are reparse points; they are followed only into the folder.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            target = resolved(path);
            attributes = target.empty() ? INVALID_FILE_ATTRIBUTES
                                        : ::GetFileAttributesW(hostpath::nativePath(target).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                skipped_.push_back({path, SkipReason::BrokenLink});
                continue;
            }
            if (!isInside(target, root_)) {
                skipped_.push_back({path, SkipReason::OutsideFolder});
                continue;
            }
        }
        if (attributes & FILE_ATTRIBUTE_DEVICE) {
            skipped_.push_back({path, SkipReason::SpecialFile});
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            auto same = [&](const std::string& v) { return isInside(v, target) && isInside(target, v); };
            if (std::find_if(visiting.begin(), visiting.end(), same) != visiting.end()) {
                skipped_.push_back({path, SkipReason::LinkLoop});
                continue;
            }
            components.push_back(entry.name);
            visiting.push_back(target);
            visit(target, components, visiting);
            visiting.pop_back();
            components.pop_back();
        } else {
            components.push_back(entry.name);
            files_.push_back({components, target});
            components.pop_back();
        }
    }
}

} // namespace quendle
