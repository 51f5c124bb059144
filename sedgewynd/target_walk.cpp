#include "sedgewynd/target_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/trace.h"
#include "sedgewynd/shell_folders.h"

namespace quillory::sedgewynd {
namespace {

// Closes the descriptor it holds (releasing its lock).
class CFd {
public:
    explicit CFd(int fd = -1) : fd_(fd) {}
    ~CFd()
    {
        if (fd_ >= 0) close(fd_);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool IsRegular(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& dir, std::string_view name)
{
    std::string out = dir;
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

}  // namespace

std::string NativePath(std::string_view path)
{
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

CTargetWalker::CTargetWalker(const CInfDocument& config, MergeOptions options, std::string targetFile,
                             std::string backupExt, std::set<FileId>& backedUp)
    : config_(config),
      options_(options),
      targetFile_(NativePath(targetFile)),
      backupExt_(std::move(backupExt)),
      backedUp_(backedUp)
{
}

void CTargetWalker::ProcessElement(std::string_view element)
{
    const std::string path = NativePath(ExpandFolderReference(element));
    if (!path.empty() && path.back() == '*')
        Walk(path);
    else
        ProcessDirectory(path);
}

bool CTargetWalker::TakeFile(int fd, FileId& id)
{
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    id = {st.st_dev, st.st_ino};
    return files_.insert(id).second;
}

void CTargetWalker::ProcessDirectory(const std::string& dir)
{
    const std::string path = Join(dir, targetFile_);
    CFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() >= 0 && (!IsRegular(fd.get()) || flock(fd.get(), LOCK_EX | LOCK_NB) != 0)) fd.reset();
    if (fd.get() < 0) {
        // Held by someone else (or not writable): it exists, but stays as it is.
        CFd reader(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        FileId id;
        if (reader.get() >= 0 && IsRegular(reader.get()) && TakeFile(reader.get(), id)) {
            ++found_;
            Trace("sedgewynd: %s is in use; not updated\n", path.c_str());
        }
        return;
    }
    FileId id;
    if (!TakeFile(fd.get(), id)) return;
    ++found_;
    const bool backup = !backupExt_.empty() && !backedUp_.count(id);
    if (MergeTargetFile(fd.get(), path, backup ? path + "." + backupExt_ : std::string(), config_, options_)) {
        if (backup) backedUp_.insert(id);
        updated_.push_back(path);
        Trace("sedgewynd: %s updated\n", path.c_str());
    }
}

void CTargetWalker::Walk(const std::string& pattern)
{
    const std::size_t sep = pattern.rfind('/');
    const std::string dir = sep == std::string::npos ? "." : sep == 0 ? "/" : pattern.substr(0, sep);
    const std::string glob = sep == std::string::npos ? pattern : pattern.substr(sep + 1);

    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !walked_.insert({st.st_dev, st.st_ino}).second) return;

    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (fnmatch(glob.c_str(), e->d_name, FNM_CASEFOLD) == 0) names.emplace_back(e->d_name);
        closedir(d);
    } else {
        Trace("sedgewynd: cannot list %s: %s\n", dir.c_str(), std::strerror(errno));
        return;
    }
    // "." first, then by name, so that runs are repeatable.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        if ((a == ".") != (b == ".")) return a == ".";
        return a < b;
    });
    for (const std::string& name : names) {
        if (name == "..") continue;
        if (name == ".") {
            ProcessDirectory(dir);
            continue;
        }
        const std::string sub = Join(dir, name);
        if (!IsDirectory(sub)) continue;
        ProcessDirectory(sub);
        Walk(sub + "/*");
    }
}

}  // namespace quillory::sedgewynd
