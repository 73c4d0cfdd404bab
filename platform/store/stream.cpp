#include "platform/store/stream.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Where a seek lands, or false when it would land before the start or past
// what a 64-bit signed offset holds.
bool seekTarget(std::int64_t base, std::int64_t move, std::int64_t& target) {
    if ((move > 0 && base > std::numeric_limits<std::int64_t>::max() - move) || base + move < 0)
        return false;
    target = base + move;
    return true;
}

class MemoryStream final : public RefCounted<IStream> {
public:
    HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
        if (!buffer && count > 0)
            return STG_E_INVALIDPOINTER;
        std::size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
        std::size_t n = std::min<std::size_t>(count, available);
        if (n > 0)
            std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        if (read)
            *read = static_cast<ULONG>(n);
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written)
            *written = 0;
        if (!buffer && count > 0)
            return STG_E_INVALIDPOINTER;
        try {
            if (data_.size() < position_ + count)
                data_.resize(position_ + count);
        } catch (...) { // no memory, or a position past what a text can hold
            return E_OUTOFMEMORY;
        }
        if (count > 0)
            std::memcpy(data_.data() + position_, buffer, count);
        position_ += count;
        if (written)
            *written = count;
        return S_OK;
    }

    HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* newPosition) override {
        std::int64_t base = 0;
        switch (origin) {
        case STREAM_SEEK_SET:
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<std::int64_t>(position_);
            break;
        case STREAM_SEEK_END:
            base = static_cast<std::int64_t>(data_.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        std::int64_t target = 0;
        if (!seekTarget(base, move, target))
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::size_t>(target);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }

    HRESULT Stat(STATSTG* statistics, DWORD) override {
        if (!statistics)
            return STG_E_INVALIDPOINTER;
        statistics->cbSize = data_.size();
        return S_OK;
    }

private:
    std::string data_;
    std::size_t position_ = 0;
};

class FileStream final : public RefCounted<IStream> {
public:
    explicit FileStream(int fd) : fd_(fd) {}
    ~FileStream() override { ::close(fd_); }

    HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
        if (read)
            *read = 0;
        if (!buffer && count > 0)
            return STG_E_INVALIDPOINTER;
        ULONG done = 0;
        while (done < count) {
            ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return STG_E_READFAULT;
            if (n == 0)
                break;
            done += static_cast<ULONG>(n);
        }
        if (read)
            *read = done;
        return S_OK;
    }

    HRESULT Write(const void*, ULONG, ULONG* written) override {
        if (written)
            *written = 0;
        return STG_E_ACCESSDENIED;
    }

    HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* newPosition) override {
        int whence = origin == STREAM_SEEK_SET   ? SEEK_SET
                     : origin == STREAM_SEEK_CUR ? SEEK_CUR
                     : origin == STREAM_SEEK_END ? SEEK_END
                                                 : -1;
        if (whence < 0)
            return STG_E_INVALIDFUNCTION;
        off_t at = ::lseek(fd_, static_cast<off_t>(move), whence);
        if (at < 0)
            return STG_E_INVALIDFUNCTION;
        if (newPosition)
            *newPosition = static_cast<std::uint64_t>(at);
        return S_OK;
    }

    HRESULT Stat(STATSTG* statistics, DWORD) override {
        if (!statistics)
            return STG_E_INVALIDPOINTER;
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return STG_E_ACCESSDENIED;
        statistics->cbSize = static_cast<std::uint64_t>(info.st_size);
        return S_OK;
    }

private:
    int fd_;
};

} // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream) {
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    if (memory || !deleteOnRelease)
        return E_INVALIDARG;
    try {
        *stream = MakeObject<MemoryStream>();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

IStream* CreateFileStream(int fd) {
    return MakeObject<FileStream>(fd);
}

HRESULT ReadStreamToEnd(IStream* stream, std::string& data) {
    data.clear();
    char buffer[65536];
    for (;;) {
        ULONG read = 0;
        HRESULT result = stream->Read(buffer, sizeof buffer, &read);
        if (Failed(result))
            return result;
        if (read == 0)
            return S_OK;
        data.append(buffer, read);
    }
}

} // namespace platform
