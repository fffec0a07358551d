// The byte streams every codec reads and writes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class ImageStream {
public:
    virtual ~ImageStream() = default;
    virtual bool Close() = 0;
    // Element-wise like fread/fwrite: returns the number of whole elements moved.
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    // origin 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual int64_t Tell() = 0;
    virtual int64_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool AtEnd() = 0;
    virtual int HasError() = 0;
    virtual bool PutByte(uint8_t c) { return Write(&c, 1, 1) == 1; }
    // The byte 0..255, or -1 at the end.
    virtual int GetByte() = 0;
    virtual char* GetLine(char* buffer, int n) = 0;
    virtual int ScanFormat(const char* format, void* argument) = 0;
};

// A stream over a file its caller opened; it never closes a file it was given.
class FileStream : public ImageStream {
public:
    explicit FileStream(FILE* file);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool AtEnd() override;
    int HasError() override;
    bool PutByte(uint8_t c) override;
    int GetByte() override;
    char* GetLine(char* buffer, int n) override;
    int ScanFormat(const char* format, void* argument) override;

    FILE* handle = nullptr;
    bool ownsHandle = false;
};

// A stream over a growable byte buffer (malloc'd; a detached buffer is freed
// by the caller with free()).
class MemoryStream : public ImageStream {
public:
    // Wraps buffer (not owned, not copied) of length bytes; with no buffer the
    // stream owns whatever it allocates later.
    explicit MemoryStream(uint8_t* buffer = nullptr, int32_t length = 0);
    ~MemoryStream() override;
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    bool OpenEmpty();
    uint8_t* BufferAddress(bool detach);

    bool Close() override;
    size_t Read(void* target, size_t size, size_t count) override;
    size_t Write(const void* source, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool AtEnd() override;
    int HasError() override;
    bool PutByte(uint8_t c) override;
    int GetByte() override;
    char* GetLine(char* target, int n) override;
    int ScanFormat(const char* format, void* argument) override;

    uint8_t* buffer = nullptr;
    int32_t size = 0; // bytes of data
    bool ownsBuffer = false;
    int32_t position = 0;
    int32_t capacity = 0; // bytes allocated

private:
    // Makes room for n bytes (the next multiple of 64 KiB above n).
    bool Grow(int64_t n);
};
