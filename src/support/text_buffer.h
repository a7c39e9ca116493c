// The one string type: an owned, zero-terminated single-byte text that grows
// on append by exactly what is needed plus the owner's spare room.
#pragma once

#include <cstdint>

class TextBuffer {
public:
    TextBuffer() = default;  // the cleared state: no block at all
    explicit TextBuffer(uint32_t capacity);
    explicit TextBuffer(const char* text);
    TextBuffer(const char* text, int32_t slack);
    ~TextBuffer();

    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    // Hands the block over; the giver keeps no text.
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(TextBuffer&& other) noexcept;

    char* append(const char* text);
    char* append(const char* text, uint32_t length);
    char* assign(const char* text);

    const char* text() const { return data ? data : ""; }
    uint32_t length() const;
    bool empty() const { return data == nullptr || data[0] == '\0'; }

    char* data = nullptr;
    uint32_t capacity = 0;
    int32_t slack = 0;

private:
    void allocate(uint32_t size);
};
