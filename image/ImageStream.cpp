#include "ImageStream.h"

#include <climits>
#include <cstdlib>
#include <cstring>

// ---- FileStream ----------------------------------------------------------

FileStream::FileStream(FILE* file) : handle(file), ownsHandle(file == nullptr) {}

FileStream::~FileStream() {
    if (handle && ownsHandle) {
        std::fclose(handle);
        handle = nullptr;
    }
}

bool FileStream::Close() {
    if (handle && ownsHandle) {
        bool ok = std::fclose(handle) == 0;
        handle = nullptr;
        return ok;
    }
    return true;
}

size_t FileStream::Read(void* buffer, size_t size, size_t count) {
    if (!handle) return 0;
    return std::fread(buffer, size, count, handle);
}

size_t FileStream::Write(const void* buffer, size_t size, size_t count) {
    if (!handle) return 0;
    return std::fwrite(buffer, size, count, handle);
}

bool FileStream::Seek(int64_t offset, int origin) {
    if (!handle) return false;
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) return false;
    return fseeko(handle, off_t(offset), whence) == 0;
}

int64_t FileStream::Tell() {
    if (!handle) return 0;
    return int64_t(ftello(handle));
}

int64_t FileStream::Size() {
    if (!handle) return -1;
    off_t here = ftello(handle);
    fseeko(handle, 0, SEEK_END);
    off_t end = ftello(handle);
    fseeko(handle, here, SEEK_SET);
    return int64_t(end);
}

bool FileStream::Flush() {
    if (!handle) return false;
    return std::fflush(handle) == 0;
}

bool FileStream::AtEnd() {
    if (!handle) return true;
    return std::feof(handle) != 0;
}

int FileStream::HasError() {
    if (!handle) return -1;
    return std::ferror(handle);
}

bool FileStream::PutByte(uint8_t c) {
    if (!handle) return false;
    return std::fputc(c, handle) == c;
}

int FileStream::GetByte() {
    if (!handle) return -1;
    int c = getc(handle);
    return c == EOF ? -1 : c;
}

char* FileStream::GetLine(char* buffer, int n) {
    if (!handle) return nullptr;
    return std::fgets(buffer, n, handle);
}

int FileStream::ScanFormat(const char* format, void* argument) {
    if (!handle) return -1;
    return std::fscanf(handle, format, argument);
}

// ---- MemoryStream --------------------------------------------------------

MemoryStream::MemoryStream(uint8_t* initial, int32_t length)
    : buffer(initial), size(initial ? (length > 0 ? length : 0) : 0),
      ownsBuffer(initial == nullptr), position(0),
      capacity(initial ? (length > 0 ? length : 0) : 0) {}

MemoryStream::~MemoryStream() {
    Close();
}

bool MemoryStream::OpenEmpty() {
    if (buffer) return false;
    position = size = capacity = 0;
    buffer = static_cast<uint8_t*>(std::malloc(1));
    ownsBuffer = true;
    return buffer != nullptr;
}

uint8_t* MemoryStream::BufferAddress(bool detach) {
    if (detach) ownsBuffer = false;
    return buffer;
}

bool MemoryStream::Close() {
    if (buffer && ownsBuffer) {
        std::free(buffer);
        buffer = nullptr;
        size = 0;
    }
    return true;
}

bool MemoryStream::Grow(int64_t n) {
    if (capacity >= n) return buffer != nullptr;
    int64_t newCapacity = (n & ~int64_t(0xFFFF)) + 65536;
    // The fields are 32-bit: a buffer they cannot describe is refused.
    if (newCapacity > INT32_MAX) return false;
    uint8_t* grown;
    if (buffer && ownsBuffer) {
        grown = static_cast<uint8_t*>(std::realloc(buffer, size_t(newCapacity)));
    } else {
        // A caller's buffer is never reallocated: its memory is not ours.
        grown = static_cast<uint8_t*>(std::malloc(size_t(newCapacity)));
        if (grown && buffer && size > 0) std::memcpy(grown, buffer, size_t(size));
    }
    if (!grown) return false;
    buffer = grown;
    capacity = int32_t(newCapacity);
    ownsBuffer = true;
    return true;
}

size_t MemoryStream::Read(void* target, size_t elementSize, size_t count) {
    if (!buffer || !target || position >= size) return 0;
    if (elementSize == 0 || count == 0) return 0;
    size_t available = size_t(size - position);
    size_t n = (count > available / elementSize + 1) ? available : elementSize * count;
    if (n > available) n = available;
    std::memcpy(target, buffer + position, n);
    position += int32_t(n);
    return n / elementSize;
}

size_t MemoryStream::Write(const void* source, size_t elementSize, size_t count) {
    if (!buffer) return 0;
    if (elementSize == 0 || count == 0) return 0;
    if (count > size_t(INT32_MAX) / elementSize) return 0;
    int64_t n = int64_t(elementSize * count);
    int64_t end = int64_t(position) + n;
    if (end > capacity && !Grow(end)) return 0;
    // A write past the end after a Seek leaves no uninitialised gap behind.
    if (position > size) std::memset(buffer + size, 0, size_t(position - size));
    std::memcpy(buffer + position, source, size_t(n));
    position = int32_t(end);
    if (position > size) size = position;
    return count;
}

bool MemoryStream::Seek(int64_t offset, int origin) {
    if (!buffer) return false;
    int64_t target;
    if (origin == 0)
        target = offset;
    else if (origin == 1)
        target = int64_t(position) + offset;
    else if (origin == 2)
        target = int64_t(size) + offset;
    else
        return false;
    if (target < 0) target = 0;
    if (target > INT32_MAX) target = INT32_MAX;
    position = int32_t(target);
    return true;
}

int64_t MemoryStream::Tell() {
    return buffer ? position : -1;
}

int64_t MemoryStream::Size() {
    return buffer ? size : -1;
}

bool MemoryStream::Flush() {
    return buffer != nullptr;
}

bool MemoryStream::AtEnd() {
    return buffer ? position >= size : true;
}

int MemoryStream::HasError() {
    if (!buffer) return -1;
    return size < position ? 1 : 0;
}

bool MemoryStream::PutByte(uint8_t c) {
    if (!buffer) return false;
    if (position >= capacity && !Grow(int64_t(position) + 1)) return false;
    if (position > size) std::memset(buffer + size, 0, size_t(position - size));
    buffer[position++] = c;
    if (position > size) size = position;
    return true;
}

int MemoryStream::GetByte() {
    if (AtEnd()) return -1;
    return buffer[position++];
}

char* MemoryStream::GetLine(char* target, int n) {
    if (!target || n <= 0) return nullptr;
    int i = 0;
    while (i < n - 1) {
        int c = GetByte();
        if (c < 0) {
            target[i] = '\0';
            return nullptr;
        }
        target[i++] = char(c);
        if (c == '\n') break;
    }
    target[i] = '\0';
    return target;
}

int MemoryStream::ScanFormat(const char*, void*) {
    return 0;
}
