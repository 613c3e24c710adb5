#pragma once
// Seekable byte streams with the runtime's contract: Read and Write move as many bytes as they can
// and say how many; ReadBuffer and WriteBuffer insist on all of them and raise otherwise.
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    // Cuts or lengthens the stream (new bytes are zero); the position stays where it was, or at
    // the new end when that is before it. EStreamError where the size cannot change.
    virtual void SetSize(int64_t size);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    void ReadBuffer(void* buffer, int64_t count);   // EReadError when fewer bytes are available
    void WriteBuffer(const void* buffer, int64_t count);  // EWriteError when not all were written
    void WriteString(std::string_view s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }
};

// A growable stream in memory; the bytes are readable as a string.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : FData(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t size) override;
    const std::string& DataString() const noexcept { return FData; }

private:
    std::string FData;
    int64_t FPosition = 0;
};

// A read-only stream over bytes owned by someone else; writing writes nothing.
class TBytesViewStream : public TStream {
public:
    explicit TBytesViewStream(std::string_view data) : FData(data) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }

private:
    std::string_view FData;
    int64_t FPosition = 0;
};

// A file opened for reading (fmOpenRead) or created empty for reading and writing (fmCreate).
class TFileStream : public TStream {
public:
    enum TMode { fmOpenRead, fmCreate };
    TFileStream(const std::string& fileName, TMode mode);  // EFOpenError / EFCreateError
    ~TFileStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    // Pushes written bytes to the disk (used before an atomic rename); EWriteError on failure.
    void Flush();

private:
    int FHandle = -1;
};

}  // namespace zel
