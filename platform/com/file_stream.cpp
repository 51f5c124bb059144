// IStream over a file, with positioned reads and writes on one descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/com/refcounted.h"
#include "platform/com/stream.h"
#include "platform/com/stream_common.h"

namespace quillory {
namespace {

constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ull;

FILETIME ToFileTime(const timespec& ts)
{
    const ULONGLONG v = kUnixEpochAsFileTime + static_cast<ULONGLONG>(ts.tv_sec) * 10000000ull +
                        static_cast<ULONGLONG>(ts.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

HRESULT FromErrno(int err)
{
    switch (err) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS: return STG_E_ACCESSDENIED;
    case ENOSPC: return STG_E_MEDIUMFULL;
    default: return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
    }
}

// The descriptor, shared by a stream and its clones.
struct FileHandle {
    int fd = -1;
    DWORD mode = 0;
    ~FileHandle()
    {
        if (fd >= 0) ::close(fd);
    }
};

class CFileStream final : public IStream, public CRefCounted {
public:
    CFileStream(std::shared_ptr<FileHandle> file, ULONGLONG pos) : file_(std::move(file)), pos_(pos) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IStream, this}, {&IID_ISequentialStream, this}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead) *pcbRead = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        ULONG done = 0;
        while (done < cb) {
            const ssize_t n = ::pread(file_->fd, static_cast<BYTE*>(pv) + done, cb - done,
                                      static_cast<off_t>(pos_ + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return STG_E_READFAULT;
            if (n == 0) break;
            done += static_cast<ULONG>(n);
        }
        pos_ += done;
        if (pcbRead) *pcbRead = done;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if ((file_->mode & 3) == STGM_READ) return STG_E_ACCESSDENIED;
        ULONG done = 0;
        while (done < cb) {
            const ssize_t n = ::pwrite(file_->fd, static_cast<const BYTE*>(pv) + done, cb - done,
                                       static_cast<off_t>(pos_ + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                pos_ += done;
                if (pcbWritten) *pcbWritten = done;
                return FromErrno(errno);
            }
            done += static_cast<ULONG>(n);
        }
        pos_ += done;
        if (pcbWritten) *pcbWritten = done;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override
    {
        struct stat st {};
        if (::fstat(file_->fd, &st) != 0) return STG_E_INVALIDFUNCTION;
        return SeekPosition(pos_, static_cast<ULONGLONG>(st.st_size), move, origin, newPos);
    }

    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        if ((file_->mode & 3) == STGM_READ) return STG_E_ACCESSDENIED;
        if (::ftruncate(file_->fd, static_cast<off_t>(size.QuadPart)) != 0) return FromErrno(errno);
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override
    {
        return CopyStream(this, target, cb, read, written);
    }

    HRESULT Commit(DWORD) override
    {
        if ((file_->mode & 3) != STGM_READ && ::fsync(file_->fd) != 0) return FromErrno(errno);
        return S_OK;
    }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* out, DWORD) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        struct stat st {};
        if (::fstat(file_->fd, &st) != 0) return STG_E_ACCESSDENIED;
        *out = STATSTG{};
        out->type = STGTY_STREAM;
        out->cbSize.QuadPart = static_cast<ULONGLONG>(st.st_size);
        out->mtime = ToFileTime(st.st_mtim);
        out->ctime = ToFileTime(st.st_ctim);
        out->atime = ToFileTime(st.st_atim);
        out->grfMode = file_->mode;
        return S_OK;
    }

    HRESULT Clone(IStream** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = NewComObject<CFileStream>(file_, pos_);
        return S_OK;
    }

private:
    std::shared_ptr<FileHandle> file_;
    ULONGLONG pos_;
};

}  // namespace
}  // namespace quillory

HRESULT SHCreateStreamOnFile(const char* pszFile, DWORD grfMode, IStream** ppstm)
{
    if (!ppstm || !pszFile) return E_INVALIDARG;
    *ppstm = nullptr;
    int flags = O_CLOEXEC;
    switch (grfMode & 3) {
    case STGM_READ: flags |= O_RDONLY; break;
    case STGM_WRITE: flags |= O_WRONLY; break;
    case STGM_READWRITE: flags |= O_RDWR; break;
    default: return E_INVALIDARG;
    }
    if (grfMode & STGM_CREATE) flags |= O_CREAT | O_TRUNC;
    auto file = std::make_shared<quillory::FileHandle>();
    file->fd = ::open(pszFile, flags, 0644);
    if (file->fd < 0) return quillory::FromErrno(errno);
    file->mode = grfMode;
    *ppstm = quillory::NewComObject<quillory::CFileStream>(std::move(file), 0);
    return S_OK;
}
